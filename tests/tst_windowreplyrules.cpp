// A data window's automatic reply rules as the window keeps them: in the
// settings, shared with the windows of the same kind and port, and what the
// window's log says about them.

#include "core/replyrules.h"
#include "datawindow/datawindow.h"
#include "datawindow/replyrulesdialog.h"
#include "support/datawindow_parts.h"
#include "support/replyrule.h"
#include "ui/logview.h"
#include "ui/messages.h"

#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString key = QStringLiteral("replyRules/UDP Server/4000");

// Accepts these rules in the window's rules dialog, as OK does; `shown`
// receives the rules the dialog opened with.
void acceptRules(ModalScript &script, DataWindow &window, const std::vector<ReplyRule> &rules,
    std::vector<ReplyRule> *shown = nullptr)
{
    script.push([rules, shown](QDialog &dialog) {
        auto *editor = qobject_cast<ReplyRulesDialog *>(&dialog);
        QVERIFY(editor);
        if (shown)
            *shown = editor->rules();
        editor->setRules(rules);
        dialog.done(ReplyRulesDialog::Accepted);
    });
    child<QPushButton>(window, "replyRulesButton")->click();
}

QStringList logLines(DataWindow &w)
{
    w.flushLog();
    return child<LogView>(w, "log")->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TstWindowReplyRules : public QObject {
    Q_OBJECT

private slots:
    // Each case has settings of its own.
    void init()
    {
        config_ = std::make_unique<QTemporaryDir>();
        QVERIFY(config_->isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_->path());
    }

    // Rules accepted while the settings cannot be written are said not to
    // be kept, and still answer in this run.
    void rulesThatCannotBeKeptAreSaidSo()
    {
        // A folder where the settings file would go.
        const QString file = config_->filePath(QStringLiteral("Portwright/portwright.conf"));
        QVERIFY(QDir().mkpath(file));
        MessageRecorder recorder;
        ModalScript script;
        DataWindow window;
        window.setReplyRulesKey(key);
        window.setAutoReplyOn(true);
        acceptRules(script, window, {rule(MatchType::Contains, "ping", "pong")});
        QCOMPARE(script.unfinished, 0);
        QCOMPARE(recorder.messages,
            QStringList{QStringLiteral("自动应答规则无法保存到 %1，只在本次运行中有效").arg(file)});
        QCOMPARE(window.autoReplyTo("ping"), QByteArray("pong"));
    }

    // Two windows of the same kind and port answer by one list: what one
    // accepts the other answers by and opens its dialog with, so that saving
    // one never puts back an older list over the other's.
    void windowsOfOneKindAndPortShareTheirRules()
    {
        MessageRecorder recorder;
        ModalScript script;
        DataWindow first, second, otherPort;
        first.setReplyRulesKey(key);
        second.setReplyRulesKey(key);
        otherPort.setReplyRulesKey(QStringLiteral("replyRules/UDP Server/4001"));
        for (DataWindow *w : {&first, &second, &otherPort})
            w->setAutoReplyOn(true);
        QCOMPARE(second.autoReplyTo("x"), std::nullopt); // its rules are read now

        const ReplyRule x = rule(MatchType::Contains, "x", "X {count}");
        const ReplyRule y = rule(MatchType::Contains, "y", "Y");
        acceptRules(script, first, {x});
        QCOMPARE(second.autoReplyTo("x"), QByteArray("X 1"));
        std::vector<ReplyRule> shown;
        acceptRules(script, second, {x, y}, &shown);
        QCOMPARE(shown, std::vector<ReplyRule>{x});
        QCOMPARE(first.autoReplyTo("y"), QByteArray("Y"));
        // The count is still each window's own.
        QCOMPARE(first.autoReplyTo("x"), QByteArray("X 2"));
        QCOMPARE(second.autoReplyTo("x"), QByteArray("X 2"));
        QCOMPARE(otherPort.autoReplyTo("x"), std::nullopt);
        QSettings settings(QStringLiteral("Portwright"), QStringLiteral("portwright"));
        QCOMPARE(loadRules(settings, key), (std::vector<ReplyRule>{x, y}));
        QCOMPARE(recorder.messages, QStringList());
    }

    // A regular expression that gives up on a piece is told in the log,
    // once however many pieces follow within the second.
    void aRegexThatGivesUpIsToldInTheLog()
    {
        ModalScript script;
        DataWindow window;
        window.setAutoReplyOn(true);
        acceptRules(script, window,
            {rule(MatchType::Contains, "never", "no"), rule(MatchType::Regex, "^(a+)+$", "ok")});
        QElapsedTimer clock;
        clock.start();
        for (int k = 0; k < 10; ++k)
            QCOMPARE(window.autoReplyTo(QByteArray(30, 'a') + 'b'), std::nullopt);
        const qint64 seconds = clock.elapsed() / 1000;
        const QStringList lines = logLines(window);
        QVERIFY2(!lines.isEmpty() && lines.size() <= 1 + seconds, qPrintable(lines.join(QLatin1Char('\n'))));
        for (const QString &line : lines)
            QVERIFY2(line.endsWith(QStringLiteral(" 自动应答规则 2 的正则表达式匹配超出限制，按不匹配处理")),
                qPrintable(line));
    }

private:
    std::unique_ptr<QTemporaryDir> config_;
};

QTEST_MAIN(TstWindowReplyRules)
#include "tst_windowreplyrules.moc"
