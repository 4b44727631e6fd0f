#include "datawindow/replyrulesdialog.h"
#include "support/replyrule.h"
#include "support/widgets.h"
#include "ui/messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void click(const QDialog &dialog, const char *button)
{
    child<QPushButton>(dialog, button)->click();
}

QTableWidget *table(const QDialog &dialog)
{
    return child<QTableWidget>(dialog, "rulesTable");
}

QStringList patterns(const QDialog &dialog)
{
    QStringList out;
    for (int row = 0; row < table(dialog)->rowCount(); ++row)
        out << table(dialog)->item(row, 2)->text();
    return out;
}

// Types into a row as a user does: the combo, the two texts, the two checks.
void editRow(const QDialog &dialog, int row, const ReplyRule &r)
{
    QTableWidget *t = table(dialog);
    t->item(row, 0)->setCheckState(r.enabled ? Qt::Checked : Qt::Unchecked);
    qobject_cast<QComboBox *>(t->cellWidget(row, 1))->setCurrentText(matchTypeName(r.match));
    t->item(row, 2)->setText(r.pattern);
    t->item(row, 3)->setText(r.reply);
    t->item(row, 4)->setCheckState(r.replyIsHex ? Qt::Checked : Qt::Unchecked);
}

} // namespace

class TstReplyRulesDialog : public QObject {
    Q_OBJECT

private slots:
    void tableShowsTheRulesWithTheirCaptions()
    {
        ReplyRulesDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("自动应答规则"));
        QTableWidget *t = table(dialog);
        QStringList headers;
        for (int c = 0; c < t->columnCount(); ++c)
            headers << t->horizontalHeaderItem(c)->text();
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
        QCOMPARE(t->rowCount(), 2);
        auto *combo = qobject_cast<QComboBox *>(t->cellWidget(1, 1));
        QCOMPARE(combo->count(), 6);
        QCOMPARE(combo->currentText(), QStringLiteral("十六进制字节"));
        QCOMPARE(t->item(1, 0)->checkState(), Qt::Unchecked);
        QCOMPARE(t->item(1, 4)->checkState(), Qt::Checked);
        QCOMPARE(qobject_cast<QComboBox *>(t->cellWidget(0, 1))->currentText(), QStringLiteral("正则表达式"));
    }

    void addMoveAndDeleteRowsKeepTheirOrder()
    {
        MessageRecorder recorder;
        ModalScript script;
        ReplyRulesDialog dialog;
        dialog.setRules({rule(MatchType::Contains, "one", "1")});
        script.push([](QDialog &d) {
            click(d, "addButton");
            QCOMPARE(table(d)->currentRow(), 1);
            editRow(d, 1, rule(MatchType::StartsWith, "two", "2"));
            click(d, "addButton");
            editRow(d, 2, rule(MatchType::HexBytes, "0D 0A", "4F4B", true));
            QCOMPARE(patterns(d), (QStringList{"one", "two", "0D 0A"}));

            click(d, "moveUpButton"); // the new third row
            QCOMPARE(patterns(d), (QStringList{"one", "0D 0A", "two"}));
            QCOMPARE(table(d)->currentRow(), 1);
            click(d, "moveUpButton");
            click(d, "moveUpButton"); // already first: nothing moves
            QCOMPARE(patterns(d), (QStringList{"0D 0A", "one", "two"}));
            QCOMPARE(table(d)->currentRow(), 0);
            table(d)->setCurrentCell(1, 2);
            click(d, "moveDownButton");
            click(d, "moveDownButton");
            QCOMPARE(patterns(d), (QStringList{"0D 0A", "two", "one"}));

            table(d)->setCurrentCell(1, 2);
            click(d, "removeButton");
            QCOMPARE(patterns(d), (QStringList{"0D 0A", "one"}));
            QCOMPARE(table(d)->currentRow(), 1);
            click(d, "okButton");
        });
        QCOMPARE(RunModal(dialog), int(ReplyRulesDialog::Accepted));
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
            QCOMPARE(table(d)->currentRow(), 1);
            editRow(d, 1, rule(MatchType::Regex, "x\\(", "y"));
            click(d, "okButton");
        });
        script.push([&recorder](QDialog &d) {
            QVERIFY(d.isVisible());
            QCOMPARE(recorder.messages.size(), 2);
            QCOMPARE(recorder.messages.last(), QStringLiteral("第3条规则的应答内容为空"));
            click(d, "cancelButton");
        });
        QCOMPARE(RunModal(dialog), int(ReplyRulesDialog::Cancelled));
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
};

QTEST_MAIN(TstReplyRulesDialog)
#include "tst_replyrulesdialog.moc"
