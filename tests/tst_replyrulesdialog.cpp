#include "datawindow/replyrulesdialog.h"
#include "support/replyrule.h"
#include "support/widgets.h"
#include "ui/messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

// The result the running script closes the dialog with.
int scriptedResult(QDialog &dialog)
{
    int result = -1;
    OpenDialog(
        &dialog, &dialog, [&result](int answer) { result = answer; }, AfterClose::Keep);
    return result;
}

enum Column { EnabledColumn, MatchColumn, PatternColumn, ReplyColumn, ReplyIsHexColumn };

void click(const QDialog &dialog, const char *button)
{
    child<QPushButton>(dialog, button)->click();
}

QTableView *table(const QDialog &dialog)
{
    return child<QTableView>(dialog, "rulesTable");
}

QModelIndex cell(const QDialog &dialog, int row, int column)
{
    return table(dialog)->model()->index(row, column);
}

int rowCount(const QDialog &dialog)
{
    return table(dialog)->model()->rowCount();
}

int currentRow(const QDialog &dialog)
{
    return table(dialog)->currentIndex().row();
}

void setCurrentCell(const QDialog &dialog, int row, int column)
{
    table(dialog)->setCurrentIndex(cell(dialog, row, column));
}

Qt::CheckState checkState(const QDialog &dialog, int row, int column)
{
    return Qt::CheckState(cell(dialog, row, column).data(Qt::CheckStateRole).toInt());
}

bool makePipe(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

QStringList patterns(const QDialog &dialog)
{
    QStringList out;
    for (int row = 0; row < rowCount(dialog); ++row)
        out << cell(dialog, row, PatternColumn).data().toString();
    return out;
}

// Opens the editor of a match type cell, as a double click does: the combo
// box of the types.
QComboBox *editMatchType(const QDialog &dialog, int row)
{
    QTableView *t = table(dialog);
    t->setCurrentIndex(cell(dialog, row, MatchColumn));
    t->edit(cell(dialog, row, MatchColumn));
    return qobject_cast<QComboBox *>(t->indexWidget(cell(dialog, row, MatchColumn)));
}

// Types into a row as a user does: the two checks, the combo, the two texts.
void editRow(const QDialog &dialog, int row, const ReplyRule &r)
{
    QAbstractItemModel *model = table(dialog)->model();
    model->setData(
        cell(dialog, row, EnabledColumn), r.enabled ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    model->setData(
        cell(dialog, row, ReplyIsHexColumn), r.replyIsHex ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    QComboBox *match = editMatchType(dialog, row);
    QVERIFY(match);
    match->setCurrentText(matchTypeName(r.match));
    // Leaving the cell ends its edit and keeps the choice.
    setCurrentCell(dialog, row, PatternColumn);
    model->setData(cell(dialog, row, PatternColumn), r.pattern);
    model->setData(cell(dialog, row, ReplyColumn), r.reply);
}

} // namespace

class TstReplyRulesDialog : public QObject {
    Q_OBJECT

private slots:
    void tableShowsTheRulesWithTheirCaptions()
    {
        ReplyRulesDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("自动应答规则"));
        const QAbstractItemModel *model = table(dialog)->model();
        QStringList headers;
        for (int c = 0; c < model->columnCount(); ++c)
            headers << model->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers,
            (QStringList{QStringLiteral("启用"), QStringLiteral("匹配方式"), QStringLiteral("匹配内容"),
                QStringLiteral("应答内容"), QStringLiteral("十六进制应答")}));
        const std::pair<const char *, const char *> buttons[]
            = {{"addButton", "添加"}, {"removeButton", "删除"}, {"moveUpButton", "上移"},
                {"moveDownButton", "下移"}, {"importButton", "导入..."}, {"exportButton", "导出..."},
                {"okButton", "确定"}, {"cancelButton", "取消"}};
        for (const auto &[name, caption] : buttons)
            QCOMPARE(child<QPushButton>(dialog, name)->text(), QString::fromUtf8(caption));

        ReplyRule off = rule(MatchType::HexBytes, "AA 55", "01", true);
        off.enabled = false;
        dialog.setRules({rule(MatchType::Regex, "^a$", "b"), off});
        QCOMPARE(rowCount(dialog), 2);
        QCOMPARE(cell(dialog, 1, MatchColumn).data().toString(), QStringLiteral("十六进制字节"));
        QCOMPARE(cell(dialog, 0, MatchColumn).data().toString(), QStringLiteral("正则表达式"));
        QComboBox *combo = editMatchType(dialog, 1);
        QVERIFY(combo);
        QCOMPARE(combo->count(), 6);
        QCOMPARE(combo->currentText(), QStringLiteral("十六进制字节"));
        QCOMPARE(checkState(dialog, 1, EnabledColumn), Qt::Unchecked);
        QCOMPARE(checkState(dialog, 1, ReplyIsHexColumn), Qt::Checked);
        QCOMPARE(checkState(dialog, 0, EnabledColumn), Qt::Checked);
    }

    void addMoveAndDeleteRowsKeepTheirOrder()
    {
        MessageRecorder recorder;
        ModalScript script;
        ReplyRulesDialog dialog;
        dialog.setRules({rule(MatchType::Contains, "one", "1")});
        script.push([](QDialog &d) {
            click(d, "addButton");
            QCOMPARE(currentRow(d), 1);
            editRow(d, 1, rule(MatchType::StartsWith, "two", "2"));
            click(d, "addButton");
            editRow(d, 2, rule(MatchType::HexBytes, "0D 0A", "4F4B", true));
            QCOMPARE(patterns(d), (QStringList{"one", "two", "0D 0A"}));

            click(d, "moveUpButton"); // the new third row
            QCOMPARE(patterns(d), (QStringList{"one", "0D 0A", "two"}));
            QCOMPARE(currentRow(d), 1);
            click(d, "moveUpButton");
            click(d, "moveUpButton"); // already first: nothing moves
            QCOMPARE(patterns(d), (QStringList{"0D 0A", "one", "two"}));
            QCOMPARE(currentRow(d), 0);
            setCurrentCell(d, 1, PatternColumn);
            click(d, "moveDownButton");
            click(d, "moveDownButton");
            QCOMPARE(patterns(d), (QStringList{"0D 0A", "two", "one"}));

            setCurrentCell(d, 1, PatternColumn);
            click(d, "removeButton");
            QCOMPARE(patterns(d), (QStringList{"0D 0A", "one"}));
            QCOMPARE(currentRow(d), 1);
            click(d, "okButton");
        });
        QCOMPARE(scriptedResult(dialog), int(ReplyRulesDialog::Accepted));
        QCOMPARE(recorder.messages, QStringList());
        QCOMPARE(dialog.rules(),
            (std::vector<ReplyRule>{
                rule(MatchType::HexBytes, "0D 0A", "4F4B", true), rule(MatchType::Contains, "one", "1")}));
    }

    void okRefusesTheFirstUnusableRuleAndStaysOpen()
    {
        MessageRecorder recorder;
        ModalScript script;
        ReplyRulesDialog dialog;
        const std::vector<ReplyRule> before = {rule(MatchType::Contains, "a", "b")};
        dialog.setRules(before);
        script.push([](QDialog &d) {
            click(d, "addButton");
            editRow(d, 1, rule(MatchType::Regex, "x(", "y"));
            click(d, "addButton"); // a second problem, not reported
            click(d, "okButton");
        });
        script.push([&recorder](QDialog &d) {
            QVERIFY(d.isVisible());
            QCOMPARE(recorder.messages,
                QStringList{
                    QStringLiteral("第2条规则的正则表达式无效：missing closing parenthesis (位置 2)")});
            QCOMPARE(currentRow(d), 1);
            editRow(d, 1, rule(MatchType::Regex, "x\\(", "y"));
            click(d, "okButton");
        });
        script.push([&recorder](QDialog &d) {
            QVERIFY(d.isVisible());
            QCOMPARE(recorder.messages.size(), 2);
            QCOMPARE(recorder.messages.last(), QStringLiteral("第3条规则的应答内容为空"));
            click(d, "cancelButton");
        });
        QCOMPARE(scriptedResult(dialog), int(ReplyRulesDialog::Cancelled));
        QCOMPARE(script.unfinished, 0);
        QCOMPARE(dialog.rules(), before);
        // What was typed before cancelling is not shown again either.
        QCOMPARE(patterns(dialog), QStringList{"a"});
    }

    void importAndExportRoundTripThroughTheChosenFile()
    {
        MessageRecorder recorder;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("rules.json"));
        QStringList asked;
        QString answer = path;
        const auto chooser = [&](bool save, const QString &caption) {
            asked << QString::number(save) + caption;
            return answer;
        };

        const std::vector<ReplyRule> rules = {rule(MatchType::Regex, QStringLiteral("^查询(\\d)$"), "R\\1"),
            rule(MatchType::HexBytes, "FF 00", "00 FF", true)};
        ReplyRulesDialog source;
        source.setFileChooser(chooser);
        source.setRules(rules);
        click(source, "exportButton");
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QString error;
        QCOMPARE(rulesFromJson(written.readAll(), &error), rules);

        ReplyRulesDialog target;
        target.setFileChooser(chooser);
        target.setRules({rule(MatchType::Contains, "old", "x")});
        click(target, "importButton");
        QCOMPARE(patterns(target), (QStringList{QStringLiteral("^查询(\\d)$"), "FF 00"}));
        // Imported rows are the table's until OK takes them.
        QCOMPARE(target.rules(), (std::vector<ReplyRule>{rule(MatchType::Contains, "old", "x")}));
        click(target, "okButton");
        QCOMPARE(target.rules(), rules);
        QCOMPARE(
            asked, (QStringList{QStringLiteral("1导出自动应答规则"), QStringLiteral("0导入自动应答规则")}));
        QCOMPARE(recorder.messages, QStringList());

        // No file chosen: nothing happens.
        answer.clear();
        click(target, "importButton");
        click(target, "exportButton");
        QCOMPARE(target.rules(), rules);
        QCOMPARE(recorder.messages, QStringList());
    }

    void badFilesLeaveTheTableAsItWas()
    {
        MessageRecorder recorder;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString answer;
        ReplyRulesDialog dialog;
        dialog.setFileChooser([&](bool, const QString &) { return answer; });
        dialog.setRules({rule(MatchType::Contains, "keep", "me")});

        answer = dir.filePath(QStringLiteral("bad.json"));
        QFile bad(answer);
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("{\"format\":\"portwright-reply-rules\",\"version\":1,\"rules\":[{\"enabled\":true,"
                  "\"match\":\"hexBytes\",\"pattern\":\"ABC\",\"reply\":\"x\",\"replyIsHex\":false}]}");
        bad.close();
        click(dialog, "importButton");
        answer = dir.filePath(QStringLiteral("missing.json"));
        click(dialog, "importButton");
        QCOMPARE(recorder.messages.size(), 2);
        QCOMPARE(recorder.messages[0], QStringLiteral("第1条规则的十六进制内容无效"));
        QVERIFY2(
            recorder.messages[1].startsWith(QStringLiteral("导入规则失败：") + answer + QStringLiteral("：")),
            qPrintable(recorder.messages[1]));
        QCOMPARE(patterns(dialog), QStringList{"keep"});

        // A directory that does not exist cannot be written to.
        recorder.clear();
        answer = dir.filePath(QStringLiteral("no/such/dir/rules.json"));
        click(dialog, "exportButton");
        QCOMPARE(recorder.messages.size(), 1);
        QVERIFY2(
            recorder.messages[0].startsWith(QStringLiteral("导出规则失败：") + answer + QStringLiteral("：")),
            qPrintable(recorder.messages[0]));
        QVERIFY(recorder.messages[0].size()
            > (QStringLiteral("导出规则失败：") + answer + QStringLiteral("：")).size());

        // Rows that import would refuse are not exported.
        recorder.clear();
        answer = dir.filePath(QStringLiteral("never.json"));
        editRow(dialog, 0, rule(MatchType::Contains, "keep", ""));
        click(dialog, "exportButton");
        QCOMPARE(recorder.messages, QStringList{QStringLiteral("第1条规则的应答内容为空")});
        QVERIFY(!QFile::exists(answer));
    }

    // Import reads only a regular file, and only up to a size: a named pipe
    // would hold the dialog in open(), /dev/zero would be read until the
    // memory is gone.
    void importReadsOnlyRegularFilesOfBoundedSize()
    {
        MessageRecorder recorder;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString pipe = dir.filePath(QStringLiteral("pipe.json"));
        QVERIFY(makePipe(pipe));
        const QString large = dir.filePath(QStringLiteral("large.json"));
        QFile file(large);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(8 * 1024 * 1024 + 1));
        file.close();
        QString answer;
        ReplyRulesDialog dialog;
        dialog.setFileChooser([&](bool, const QString &) { return answer; });
        dialog.setRules({rule(MatchType::Contains, "keep", "me")});
        for (const QString &path : {pipe, QStringLiteral("/dev/zero"), large}) {
            answer = path;
            click(dialog, "importButton");
        }
        const QString failed = QStringLiteral("导入规则失败：");
        QCOMPARE(recorder.messages,
            (QStringList{failed + pipe + QStringLiteral("：不是普通文件"),
                failed + QStringLiteral("/dev/zero：不是普通文件"),
                failed + large + QStringLiteral("：文件过大（上限 8388608 字节）")}));
        QCOMPARE(patterns(dialog), QStringList{"keep"});
    }

    // Export never puts a file of its own in place of a named pipe (or a
    // device): the save would rename its temporary file over the node.
    void exportLeavesAPipeInPlace()
    {
        MessageRecorder recorder;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString pipe = dir.filePath(QStringLiteral("pipe.json"));
        QVERIFY(makePipe(pipe));
        ReplyRulesDialog dialog;
        dialog.setFileChooser([&](bool, const QString &) { return pipe; });
        dialog.setRules({rule(MatchType::Contains, "keep", "me")});
        click(dialog, "exportButton");
        QCOMPARE(recorder.messages,
            QStringList{QStringLiteral("导出规则失败：") + pipe + QStringLiteral("：不是普通文件")});
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(pipe).constData(), &info), 0);
        QVERIFY(S_ISFIFO(info.st_mode));
    }

    // The table makes no widget per rule (an editor exists only for the cell
    // being edited), so its cost grows with the rules only by their data;
    // and it takes no more rules than a window does.
    void theTableDoesNotGrowWidgetsWithTheRules()
    {
        MessageRecorder recorder;
        const ReplyRule one = rule(MatchType::Regex, "^a(\\d)$", "b\\1");
        ReplyRulesDialog dialog;
        dialog.setRules(std::vector<ReplyRule>(10, one));
        const qsizetype few = dialog.findChildren<QWidget *>().size();
        dialog.setRules(std::vector<ReplyRule>(2000, one));
        QCOMPARE(rowCount(dialog), 2000);
        QCOMPARE(dialog.findChildren<QWidget *>().size(), few);

        dialog.setRules(std::vector<ReplyRule>(5000, one));
        click(dialog, "addButton");
        QCOMPARE(rowCount(dialog), 5000);
        QCOMPARE(recorder.messages, QStringList{QStringLiteral("规则最多 5000 条，不能再添加")});
        click(dialog, "removeButton");
        click(dialog, "addButton");
        QCOMPARE(rowCount(dialog), 5000);
        QCOMPARE(recorder.messages.size(), 1);
    }

    // Every control is reached with the keyboard alone: Tab walks from the
    // table through the buttons and back, the arrows move between cells, the
    // space bar switches a check, F2 or typing edits a cell and Enter keeps
    // the edit.
    void everyControlIsReachedByTheKeyboard()
    {
        ReplyRulesDialog dialog;
        dialog.setRules({rule(MatchType::Contains, "a", "b")});
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QTableView *t = table(dialog);
        t->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), t);
        QStringList reached;
        for (int k = 0; k < 9; ++k) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(reached,
            (QStringList{"addButton", "removeButton", "moveUpButton", "moveDownButton", "importButton",
                "exportButton", "okButton", "cancelButton", "rulesTable"}));

        setCurrentCell(dialog, 0, EnabledColumn);
        QTest::keyClick(t, Qt::Key_Space);
        QCOMPARE(checkState(dialog, 0, EnabledColumn), Qt::Unchecked);
        QTest::keyClick(t, Qt::Key_Right);
        QTest::keyClick(t, Qt::Key_F2);
        auto *match = qobject_cast<QComboBox *>(QApplication::focusWidget());
        QVERIFY(match);
        QTest::keyClick(match, Qt::Key_Down);
        QTest::keyClick(match, Qt::Key_Enter);
        QTRY_COMPARE(QApplication::focusWidget(), t);
        QCOMPARE(cell(dialog, 0, MatchColumn).data(Qt::EditRole).toInt(), int(MatchType::StartsWith));
        QTest::keyClick(t, Qt::Key_Right);
        QTest::keyClicks(t, "x"); // typing starts the edit with the key
        QTest::keyClicks(QApplication::focusWidget(), "yz");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        QTRY_COMPARE(QApplication::focusWidget(), t);
        QTest::keyClick(t, Qt::Key_Right);
        QTest::keyClick(t, Qt::Key_F2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        QTest::keyClicks(QApplication::focusWidget(), "c");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        QTRY_COMPARE(QApplication::focusWidget(), t);
        QTest::keyClick(t, Qt::Key_Right);
        QTest::keyClick(t, Qt::Key_Space);

        // Tab to OK, and the space bar presses it.
        while (QApplication::focusWidget() != child<QPushButton>(dialog, "okButton") && reached.size() < 20) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget()->objectName();
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(dialog.result(), int(ReplyRulesDialog::Accepted));
        ReplyRule typed = rule(MatchType::StartsWith, "xyz", "bc", true);
        typed.enabled = false;
        QCOMPARE(dialog.rules(), std::vector<ReplyRule>{typed});
    }
};

QTEST_MAIN(TstReplyRulesDialog)
#include "tst_replyrulesdialog.moc"
