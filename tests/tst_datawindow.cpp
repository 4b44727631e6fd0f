#include "core/errors.h"
#include "core/logtexts.h"
#include "core/replyrules.h"
#include "datawindow/activitybar.h"
#include "datawindow/datawindow.h"
#include "datawindow/modemlinesstrip.h"
#include "datawindow/repeatcountbox.h"
#include "datawindow/replyrulesdialog.h"
#include "datawindow/sendpanel.h"
#include "session/endpointsession.h"
#include "session/seriallines.h"
#include "support/contextmenu.h"
#include "support/datawindow_parts.h"
#include "support/growth.h"
#include "support/stalledfiles.h"
#include "ui/documentarea.h"
#include "ui/logfeed.h"
#include "ui/logview.h"
#include "ui/messages.h"
#include "ui/plaintextbox.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <cerrno>
#include <cstring>

namespace {
const QString t = QStringLiteral("14:05:33");

QStringList flushedLines(DataWindow &w)
{
    w.flushLog();
    return child<LogView>(w, "log")->toPlainText().split(QLatin1Char('\n'));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<cannot be read>");
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Starts recording the window's log to path through its menu.
void recordThroughTheMenu(DataWindow &w, FileChoiceScript &choices, const QString &path)
{
    choices.answers.push_back(path);
    chooseFromContextMenu(*child<LogView>(w, "log"), QStringLiteral("记录到文件..."));
}
} // namespace

class TstDataWindow : public QObject {
    Q_OBJECT

private slots:
    void timeTextHasNoZoneSuffix()
    {
        QCOMPARE(TimeText(QTime(14, 5, 33)), t);
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(TimeText()).hasMatch());
    }

    void millisecondTimeTextIsTheUsualOneWithMillisecondsAfterTheSeconds()
    {
        QCOMPARE(TimeTextWithMilliseconds(QTime(14, 5, 33, 42)), t + QStringLiteral(".042"));
        QCOMPARE(TimeTextWithMilliseconds(QTime(14, 5, 33)), t + QStringLiteral(".000"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))
                    .match(TimeTextWithMilliseconds())
                    .hasMatch());
    }

    void logLines_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("timed");
        QTest::newRow("text") << QByteArray("abc") << false << "14:05:33 收到数据：abc"
                              << "14:05:33 发送数据：abc[1次]"
                              << "14:05:33 发送数据：abc[1次]";
        QTest::newRow("hex") << QByteArray("abc") << true << "14:05:33 收到数据：abc{61 62 63 }"
                             << "14:05:33 发送数据：abc{61 62 63 }[1次]"
                             << "14:05:33 发送数据：{61 62 63 }abc[1次]";
        QTest::newRow("empty hex") << QByteArray() << true << "14:05:33 收到数据：{}"
                                   << "14:05:33 发送数据：{}[1次]"
                                   << "14:05:33 发送数据：{}[1次]";
        QTest::newRow("zero byte keeps the rest")
            << QByteArray("a\0b", 3) << true << QStringLiteral("14:05:33 收到数据：a\u2400b{61 00 62 }")
            << QStringLiteral("14:05:33 发送数据：a\u2400b{61 00 62 }[1次]")
            << QStringLiteral("14:05:33 发送数据：{61 00 62 }a\u2400b[1次]");
        QTest::newRow("chinese text") << QByteArray("中") << true << "14:05:33 收到数据：中{E4 B8 AD }"
                                      << "14:05:33 发送数据：中{E4 B8 AD }[1次]"
                                      << "14:05:33 发送数据：{E4 B8 AD }中[1次]";
    }
    void logLines()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, hex);
        QFETCH(QString, received);
        QFETCH(QString, sent);
        QFETCH(QString, timed);
        QCOMPARE(ReceiveLogLine(t, data, hex), received);
        QCOMPARE(SendLogLine(t, data, hex, QStringLiteral("1")), sent);
        QCOMPARE(TimedSendLogLine(t, data, hex, QStringLiteral("1")), timed);
    }

    void logLinesHoldNoSpareCapacity()
    {
        // A full log keeps 16 M characters; lines with room to spare would
        // make it hold up to twice that.
        const QByteArray piece(65536, 'a');
        for (const bool hex : {false, true}) {
            for (const QString &line :
                {ReceiveLogLine(t, piece, hex), SendLogLine(t, piece, hex, QStringLiteral("1")),
                    TimedSendLogLine(t, piece, hex, QStringLiteral("1"))})
                QCOMPARE(line.capacity(), line.size());
        }
    }

    void sendLinesCarryTheCountAsTyped()
    {
        QCOMPARE(SendLogLine(t, "x", false, QStringLiteral(" 010 ")),
            QStringLiteral("14:05:33 发送数据：x[ 010 次]"));
        QCOMPARE(TimedSendLogLine(t, "x", false, QStringLiteral("abc")),
            QStringLiteral("14:05:33 发送数据：x[abc次]"));
    }

    void lineBreaksInDataStartNewLines() { QCOMPARE(DataText("a\r\nb\rc\nd"), QStringLiteral("a\nb\nc\nd")); }

    void countersLineIsSixtyFourBit()
    {
        QCOMPARE(CountersLine(12, 3), QStringLiteral("收：12字节，发:3字节"));
        QCOMPARE(CountersLine(3000000000LL, 0), QStringLiteral("收：3000000000字节，发:0字节"));
    }

    void initialLayout()
    {
        DataWindow w;
        QCOMPARE(w.windowTitle(), QStringLiteral("数据收发窗口"));
        QCOMPARE(child<StatusPanel>(w, "statusPanel")->title(), QStringLiteral("Socket状态"));
        QCOMPARE(child<QLabel>(w, "stateLabel")->text(), QStringLiteral("linkstatus"));
        QVERIFY(child<QLabel>(w, "createdLabel")->isHidden());
        QVERIFY(child<QPushButton>(w, "startButton")->isHidden()
            && child<QPushButton>(w, "stopButton")->isHidden());
        QVERIFY(child<QCheckBox>(w, "webReplySwitch")->isHidden());
        QVERIFY(!child<QCheckBox>(w, "webReplySwitch")->isChecked());
        QCOMPARE(child<QCheckBox>(w, "webReplySwitch")->text(), QStringLiteral("启动Web服务"));
        QCOMPARE(child<QGroupBox>(w, "receiveBox")->title(), QStringLiteral("数据接收及提示窗口"));
        QCOMPARE(child<SendPanel>(w, "sendPanel")->title(), QStringLiteral("数据发送窗口(文本模式)"));
        QCOMPARE(child<QPushButton>(w, "sendButton")->text(), QStringLiteral("发送数据"));
        QCOMPARE(child<QLabel>(w, "repeatCountLabel")->text(), QStringLiteral("重复发送次数       "));
        QCOMPARE(child<RepeatCountBox>(w, "repeatCountBox")->currentText(), QStringLiteral("1"));
        QCOMPARE(child<RepeatCountBox>(w, "repeatCountBox")->count(), 5);
        QCOMPARE(child<RepeatCountBox>(w, "repeatCountBox")->itemText(4), QStringLiteral("10000"));
        QCOMPARE(child<QLabel>(w, "intervalLabel")->text(), QStringLiteral("间隔(ms)"));
        QCOMPARE(child<QLineEdit>(w, "intervalEdit")->text(), QStringLiteral("1000"));
        QCOMPARE(child<QPushButton>(w, "startTimerButton")->text(), QStringLiteral("定时发送"));
        QCOMPARE(child<QPushButton>(w, "stopTimerButton")->text(), QStringLiteral("停止定时发送"));
        QCOMPARE(child<QCheckBox>(w, "hexSwitch")->text(), QStringLiteral("十六进制格式"));
        QVERIFY(!child<QCheckBox>(w, "hexSwitch")->isChecked());
        QCOMPARE(child<QPushButton>(w, "resetCountersButton")->text(), QStringLiteral("统计清零"));
        QVERIFY(!timedSendingTimer(w)->isActive());
        QCOMPARE(timedSendingTimer(w)->interval(), 1000);
        QCOMPARE(child<LogView>(w, "log")->palette().color(QPalette::Base), QColor(247, 249, 253));
        QCOMPARE(
            child<StatusPanel>(w, "statusPanel")->palette().color(QPalette::Window), QColor(255, 251, 240));
        QCOMPARE(w.sentBytes(), 0);
        QCOMPARE(w.receivedBytes(), 0);
        QVERIFY(child<LogView>(w, "log")->toPlainText().isEmpty());
    }

    void receiveLoggingStepsReachTheViewInOrder()
    {
        DataWindow w;
        child<QCheckBox>(w, "hexSwitch")->setChecked(true);
        w.logReceived("abc");
        child<QCheckBox>(w, "hexSwitch")->setChecked(false);
        w.logReceived("de\r\nf");
        // Batched: nothing shows until the timer ticks.
        QVERIFY(child<LogView>(w, "log")->toPlainText().isEmpty());
        QTRY_VERIFY(!child<LogView>(w, "log")->toPlainText().isEmpty());
        const QStringList lines = child<LogView>(w, "log")->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith(QStringLiteral(" 收到数据：abc{61 62 63 }")));
        QVERIFY(lines[1].endsWith(QStringLiteral(" 收到数据：de")));
        QCOMPARE(lines[2], QStringLiteral("f"));
        QCOMPARE(w.receivedBytes(), 8);
        QCOMPARE(w.countersText(), QStringLiteral("收：8字节，发:0字节"));
    }

    void emptyDatagramInHexModeLogsBracesOnly()
    {
        DataWindow w;
        child<QCheckBox>(w, "hexSwitch")->setChecked(true);
        w.logReceived(QByteArray());
        const QStringList lines = flushedLines(w);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].endsWith(QStringLiteral(" 收到数据：{}")));
        QCOMPARE(w.receivedBytes(), 0);
        QCOMPARE(w.countersText(), QStringLiteral("收：0字节，发:0字节"));
    }

    void countersOfTwoWindowsAreIndependent()
    {
        DataWindow a, b;
        a.logReceived("12345");
        b.logReceived("1");
        a.flushLog();
        b.flushLog();
        QCOMPARE(a.countersText(), QStringLiteral("收：5字节，发:0字节"));
        QCOMPARE(b.countersText(), QStringLiteral("收：1字节，发:0字节"));
        QCOMPARE(child<LogView>(b, "log")->toPlainText().count(QLatin1Char('\n')), 0);
    }

    void logKeepsTheNewestEntriesWithinTheLineCap()
    {
        DataWindow w;
        const int extra = 25;
        for (int i = 0; i < LogLimits::MaxEntries + extra; ++i) {
            w.appendLogLine(QString::number(i));
            if (i % 30000 == 0)
                w.flushLog(); // a cap that holds across batches, not only within one
        }
        const QStringList lines = flushedLines(w);
        QCOMPARE(lines.size(), LogLimits::MaxEntries);
        QCOMPARE(lines.first(), QString::number(extra));
        QCOMPARE(lines.last(), QString::number(LogLimits::MaxEntries + extra - 1));
    }

    void logKeepsTheNewestEntriesWithinTheSizeCap()
    {
        DataWindow w;
        const qsizetype piece = 100000;
        const int count = int(LogLimits::MaxChars / piece) + 40;
        for (int i = 0; i < count; ++i) {
            w.appendLogLine(
                QString::number(i).leftJustified(piece, QLatin1Char('.')) + QStringLiteral("\nend"));
            if (i % 50 == 0)
                w.flushLog();
        }
        const QStringList lines = flushedLines(w);
        const QString text = child<LogView>(w, "log")->toPlainText();
        QVERIFY(text.size() <= LogLimits::MaxChars);
        QVERIFY(text.size() > LogLimits::MaxChars - 2 * piece);
        // Whole entries go, oldest first: the view starts with an entry's first line.
        QVERIFY(lines.first().startsWith(QString::number(count - lines.size() / 2) + QLatin1Char('.')));
        QCOMPARE(lines.last(), QStringLiteral("end"));
        QCOMPARE(lines.size() % 2, 0);
    }

    // The size cap counts the bytes kept, not the text they make: hex mode,
    // three characters and more a byte, keeps as much history as text mode.
    void logKeepsAsManyReceivedBytesInHexModeAsInTextMode()
    {
        const QByteArray piece(1000, 'x');
        const qsizetype cap = 1024 * 1024;
        const auto keptPieces = [&](bool hex) {
            DataWindow w;
            child<QCheckBox>(w, "hexSwitch")->setChecked(hex);
            LogView *log = child<LogView>(w, "log");
            log->setCaps(LogLimits::MaxEntries, cap);
            for (qsizetype i = 0; i < 2 * cap / piece.size(); ++i) {
                w.logReceived(piece);
                if (i % 100 == 0)
                    w.flushLog();
            }
            w.flushLog();
            return log->entryCount();
        };
        const int text = keptPieces(false);
        const int hex = keptPieces(true);
        QCOMPARE(hex, text);
        QVERIFY2(text * piece.size() <= cap && text * piece.size() > cap - piece.size(),
            qPrintable(QString::number(text)));
    }

    // Pieces reach the log as bytes and become text only when shown: a
    // flood costs as much to log in hex mode as in text mode, where text
    // made for every piece as it came cost the hex digits, three characters
    // a byte, on top. (What is painted then is a screenful, whatever the
    // flood.)
    void loggingAFloodCostsAsMuchInHexModeAsInTextMode()
    {
        DataWindow w;
        w.resize(505, 503);
        w.show();
        LogView *log = child<LogView>(w, "log");
        const int pieces = 1000;
        const QByteArray piece(16 * 1024, 'x');
        const auto logNs = [&](bool hex) {
            child<QCheckBox>(w, "hexSwitch")->setChecked(hex);
            log->clear();
            return growth_test::cpuNs([&] {
                for (int i = 0; i < pieces; ++i)
                    w.logReceived(piece);
                w.flushLog();
            });
        };
        // The helper's two sizes stand for the two modes here: text, then hex.
        const growth_test::Fastest ns = growth_test::fastestAtNAndTwiceN(logNs);
        qInfo("%d pieces of %lld bytes logged: %lld us in text mode, %lld us in hex mode", pieces,
            qint64(piece.size()), ns.atN / 1000, ns.atTwiceN / 1000);
        QVERIFY2(ns.atTwiceN < 3 * ns.atN / 2,
            qPrintable(QStringLiteral("%1 us, then %2 us").arg(ns.atN / 1000).arg(ns.atTwiceN / 1000)));
        QCOMPARE(log->entryCount(), pieces);
    }

    void logFollowsTheNewestLineUnlessScrolledBack()
    {
        DataWindow w;
        w.resize(505, 503);
        w.show();
        for (int i = 0; i < 200; ++i)
            w.appendLogLine(QStringLiteral("line %1").arg(i));
        w.flushLog();
        QScrollBar *bar = child<LogView>(w, "log")->verticalScrollBar();
        QCOMPARE(bar->value(), bar->maximum());
        w.appendLogLine(QStringLiteral("more"));
        w.flushLog();
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(bar->maximum(), 200);

        bar->setValue(10);
        w.appendLogLine(QStringLiteral("still more"));
        w.flushLog();
        QCOMPARE(bar->value(), 10); // the user's place is kept
        bar->setValue(bar->maximum());
        w.appendLogLine(QStringLiteral("last"));
        w.flushLog();
        QCOMPARE(bar->value(), bar->maximum());

        const QImage shot = child<LogView>(w, "log")->viewport()->grab().toImage();
        QVERIFY(!shot.isNull()); // painting the tail of a long log works
        child<LogView>(w, "log")->clear();
        QCOMPARE(child<LogView>(w, "log")->entryCount(), 0);
        QVERIFY(child<LogView>(w, "log")->toPlainText().isEmpty());
    }

    // A peer that disconnects while the log's context menu is open destroys
    // the window under the menu; nothing of the menu may outlive it or be
    // destroyed twice.
    void logMenuGoesWithItsWindow()
    {
        auto *w = new DataWindow;
        w->resize(505, 503);
        w->show();
        w->appendLogLine(QStringLiteral("line"));
        w->flushLog();
        const QPointer<DataWindow> window(w);
        QPointer<QMenu> menu;
        QStringList actions;
        // Runs inside the menu's own event loop if it has one.
        QTimer::singleShot(100, w, [&] {
            menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (menu) {
                for (const QAction *action : menu->actions())
                    actions << action->text();
            }
            window->destroyLater();
        });
        QWidget *surface = child<LogView>(w, "log")->viewport();
        QContextMenuEvent event(
            QContextMenuEvent::Mouse, QPoint(20, 20), surface->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(surface, &event);
        QTRY_VERIFY(!window);
        QCOMPARE(actions,
            QStringList({"复制", "复制全部", "全选", "清空", "", "查找...", "保存日志...", "记录到文件...",
                "", "显示毫秒"}));
        QVERIFY(!menu);
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
    }

    void hexSwitchChangesOnlyTheCaption()
    {
        DataWindow w;
        child<SendEdit>(w, "sendEdit")->setPlainText(QStringLiteral("hello 41"));
        QTest::mouseClick(child<QCheckBox>(w, "hexSwitch"), Qt::LeftButton, {},
            QPoint(5, child<QCheckBox>(w, "hexSwitch")->height() / 2));
        QVERIFY(child<QCheckBox>(w, "hexSwitch")->isChecked());
        QCOMPARE(child<SendPanel>(w, "sendPanel")->title(), QStringLiteral("数据发送窗口[HEX模式]"));
        QCOMPARE(child<SendEdit>(w, "sendEdit")->toPlainText(), QStringLiteral("hello 41"));
        QTest::mouseClick(child<QCheckBox>(w, "hexSwitch"), Qt::LeftButton, {},
            QPoint(5, child<QCheckBox>(w, "hexSwitch")->height() / 2));
        QCOMPARE(child<SendPanel>(w, "sendPanel")->title(), QStringLiteral("数据发送窗口(文本模式)"));
        QCOMPARE(child<SendEdit>(w, "sendEdit")->toPlainText(), QStringLiteral("hello 41"));
    }

    void ratesShowWhileTrafficFlowsAndClearWhenItStops()
    {
        DataWindow w;
        w.build();
        auto *bar = child<ActivityBar>(w, "activityBar");
        QVERIFY(bar->ratesText().isEmpty());
        w.addToCounters(3000, 1024);
        QTRY_COMPARE_WITH_TIMEOUT(bar->ratesText(), QStringLiteral("速率 收：2.9 KB/s，发：1.0 KB/s"), 3000);
        // A second without traffic clears them.
        QTRY_VERIFY_WITH_TIMEOUT(bar->ratesText().isEmpty(), 3000);
        // Counters reset between two ticks do not make a negative rate.
        w.addToCounters(10, 0);
        w.resetCounters();
        w.addToCounters(0, 5);
        QTRY_COMPARE_WITH_TIMEOUT(bar->ratesText(), QStringLiteral("速率 收：0 B/s，发：5 B/s"), 3000);
    }

    void byteSizesReadAsAPersonWouldSay()
    {
        QCOMPARE(ByteSizeText(0), QStringLiteral("0 B"));
        QCOMPARE(ByteSizeText(1023), QStringLiteral("1023 B"));
        QCOMPARE(ByteSizeText(1536), QStringLiteral("1.5 KB"));
        QCOMPARE(ByteSizeText(5 * 1024 * 1024 + 1024 * 1024 / 10), QStringLiteral("5.1 MB"));
        QCOMPARE(ByteSizeText(3LL * 1024 * 1024 * 1024), QStringLiteral("3.00 GB"));
    }

    void aLongRepeatShowsItsProgressAndCancelEndsIt()
    {
        DataWindow w;
        int sends = 0;
        w.setSendFunction([&](const QByteArray &data, const SendControl &) {
            ++sends;
            return SendOutcome{data.size(), false};
        });
        child<SendEdit>(w, "sendEdit")->setPlainText(QStringLiteral("x"));
        child<RepeatCountBox>(w, "repeatCountBox")->setEditText(QStringLiteral("100000"));
        child<QLineEdit>(w, "intervalEdit")->setText(QStringLiteral("2"));
        auto *bar = child<ActivityBar>(w, "activityBar");
        bool shownEarly = true;
        QTimer::singleShot(500, &w, [&] { shownEarly = bar->isProgressShown(); });
        QString shownLate;
        QTimer::singleShot(1800, &w, [&] {
            shownLate = bar->progressText();
            QTest::mouseClick(child<QToolButton>(w, "cancelButton"), Qt::LeftButton);
        });
        w.sendTyped();
        QVERIFY(waitForRepeatsToEnd(&w));
        QVERIFY2(!shownEarly, "a repeat shorter than a second shows no progress");
        const QRegularExpression progress(QStringLiteral("^重复发送：(\\d+)/100000次$"));
        const auto match = progress.match(shownLate);
        QVERIFY2(match.hasMatch(), qPrintable(shownLate));
        QVERIFY(match.captured(1).toInt() > 0);
        QVERIFY(sends > 0 && sends < 100000);
        QVERIFY(!bar->isProgressShown());
        QCOMPARE(w.sentBytes(), sends);
    }

    void aFileTransferIsLoggedCountedAndShown()
    {
        DataWindow w;
        w.build();
        auto *bar = child<ActivityBar>(w, "activityBar");
        int cancels = 0;
        connect(&w, &DataWindow::transferCancelRequested, &w, [&] { ++cancels; });
        w.transferStarted(QStringLiteral("/tmp/a.bin"), 4096);
        QVERIFY(w.isTransferring());
        QVERIFY(bar->isProgressShown());
        w.transferProgressed(1024);
        w.transferProgressed(1024);
        QCOMPARE(w.sentBytes(), 2048);
        QTest::mouseClick(child<QToolButton>(w, "cancelButton"), Qt::LeftButton);
        QCOMPARE(cancels, 1);
        w.transferEnded(DataWindow::TransferEnd::Cancelled, {});
        QVERIFY(!w.isTransferring());
        QVERIFY(!bar->isProgressShown());
        w.transferStarted(QStringLiteral("/tmp/b.bin"), 10);
        w.transferProgressed(4);
        w.transferEnded(DataWindow::TransferEnd::Failed, QStringLiteral("连接已断开"));
        const QStringList lines = flushedLines(w);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].endsWith(QStringLiteral(" 开始发送文件：/tmp/a.bin，共 4096 字节")));
        QVERIFY(lines[1].endsWith(QStringLiteral(" 文件发送已取消：/tmp/a.bin，已发送 2048/4096 字节")));
        QVERIFY(lines[3].endsWith(QStringLiteral(" 文件发送失败：/tmp/b.bin：连接已断开，已发送 4/10 字节")));
        QCOMPARE(w.countersText(), CountersLine(0, 2052));

        // A long name gives way to the figures, which stay readable whole.
        w.show();
        w.transferStarted(QStringLiteral("/tmp/firmware-update-for-the-gateway-rev-b.bin"), 50 * 1024 * 1024);
        auto *label = child<QLabel>(bar, "progressLabel");
        QTRY_VERIFY(label->width() > 0);
        const QString shown = bar->progressText();
        QVERIFY2(shown.contains(QStringLiteral("：0 B/50.0 MB，0 B/s")), qPrintable(shown));
        QVERIFY2(label->fontMetrics().horizontalAdvance(shown) <= label->width(), qPrintable(shown));
        QVERIFY2(shown.startsWith(QStringLiteral("发送文件 f")) && shown.contains(QChar(0x2026)),
            qPrintable(shown));
    }

    void rulesAcceptedInTheDialogAnswerAndSurviveARestart()
    {
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        MessageRecorder recorder;
        ModalScript script;
        auto first = std::make_unique<DataWindow>();
        first->setReplyRulesKey(QStringLiteral("replyRules/UDP Server/4000"));
        first->setAutoReplyOn(true);
        QCOMPARE(first->autoReplyTo("ping 7"), std::nullopt); // no rules yet
        ReplyRule rule;
        rule.match = MatchType::Regex;
        rule.pattern = QStringLiteral("^ping (\\d+)$");
        rule.reply = QStringLiteral("pong \\1");
        script.push([&](QDialog &dialog) {
            auto *rules = qobject_cast<ReplyRulesDialog *>(&dialog);
            QVERIFY(rules);
            rules->setRules({rule});
            dialog.done(ReplyRulesDialog::Accepted);
        });
        QTest::mouseClick(child<QPushButton>(*first, "replyRulesButton"), Qt::LeftButton);
        QCOMPARE(script.unfinished, 0);
        QCOMPARE(first->autoReplyTo("ping 7"), QByteArray("pong 7"));
        first.reset();

        // As after a restart: another window for the same kind and port.
        DataWindow again;
        again.setReplyRulesKey(QStringLiteral("replyRules/UDP Server/4000"));
        QCOMPARE(again.autoReplyTo("ping 8"), std::nullopt); // switched off
        again.setAutoReplyOn(true);
        QCOMPARE(again.autoReplyTo("ping 8"), QByteArray("pong 8"));
        DataWindow otherPort;
        otherPort.setReplyRulesKey(QStringLiteral("replyRules/UDP Server/4001"));
        otherPort.setAutoReplyOn(true);
        QCOMPARE(otherPort.autoReplyTo("ping 8"), std::nullopt);

        // A cancelled dialog keeps the rules as they were.
        script.push([](QDialog &dialog) {
            qobject_cast<ReplyRulesDialog *>(&dialog)->setRules({});
            dialog.done(ReplyRulesDialog::Cancelled);
        });
        QTest::mouseClick(child<QPushButton>(again, "replyRulesButton"), Qt::LeftButton);
        QCOMPARE(again.autoReplyTo("ping 9"), QByteArray("pong 9"));
        QCOMPARE(recorder.messages, QStringList());
    }

    void repliesThatArriveDuringASlowReplyWaitTheirTurn()
    {
        DataWindow w;
        w.setAutoReplyOn(true);
        QList<QByteArray> sent;
        bool nested = false;
        w.setSendFunction([&](const QByteArray &data, const SendControl &) {
            // The first reply waits for a slow peer; meanwhile two more
            // pieces arrive and are answered.
            if (data == "one" && !nested) {
                nested = true;
                w.sendReply("two");
                w.sendReply("three");
            }
            sent << data;
            return SendOutcome{data.size(), data == "fail"};
        });
        w.sendReply("one");
        QCOMPARE(sent, QList<QByteArray>({"one", "two", "three"}));
        QCOMPARE(w.sentBytes(), 11);
        QVERIFY(w.isAutoReplyOn());
        w.sendReply("fail");
        QVERIFY(!w.isAutoReplyOn());
        const QStringList lines = flushedLines(w);
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[0].endsWith(QStringLiteral(" 自动应答：one")));
        QVERIFY(lines[2].endsWith(QStringLiteral(" 自动应答：three")));
        QVERIFY(lines[4].endsWith(QStringLiteral(" 自动应答已关闭：发送失败")));
    }

    // A large reply is logged by its first bytes and its length, so that
    // many peers answered with it do not hold it many times over.
    void aLargeReplyIsLoggedShortened()
    {
        DataWindow w;
        w.setAutoReplyOn(true);
        w.setSendFunction([](const QByteArray &data, const SendControl &) {
            return SendOutcome{data.size(), false};
        });
        w.sendReply(QByteArray(300 * 1024, 'r'));
        w.sendReply(QByteArray(LoggedReplyBytes, 's'));
        const QStringList lines = flushedLines(w);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].size() < LoggedReplyBytes + 100);
        QVERIFY(lines[0].endsWith(
            QString(LoggedReplyBytes, QLatin1Char('r')) + QStringLiteral(" …（共 307200 字节）")));
        QVERIFY(
            lines[1].endsWith(QStringLiteral(" 自动应答：") + QString(LoggedReplyBytes, QLatin1Char('s'))));
        QCOMPARE(w.sentBytes(), 300 * 1024 + LoggedReplyBytes);
    }

    void repliesToAPeerThatNeverReadsAreBoundedAndStopEndsThem()
    {
        DataWindow w;
        w.setAutoReplyOn(true);
        int sends = 0;
        bool peerReads = false;
        w.setSendFunction([&](const QByteArray &data, const SendControl &control) {
            ++sends;
            // The first reply waits for a peer that does not read while
            // 1,500 more pieces arrive and are answered.
            if (sends == 1) {
                for (int i = 0; i < 1500; ++i)
                    w.sendReply("r");
                while (!peerReads && !control.stopRequested())
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            }
            return SendOutcome{data.size(), false};
        });
        peerReads = true;
        w.sendReply("first");
        QCOMPARE(sends, 1001); // the first and the thousand that could wait
        QStringList lines = flushedLines(w);
        QCOMPARE(lines.filter(QStringLiteral("积压过多")).size(), 1);
        QVERIFY(lines.last().endsWith(QStringLiteral(" 已丢弃 500 条自动应答")));

        // Stop ends the reply that waits and those behind it.
        sends = 0;
        peerReads = false;
        QTimer::singleShot(50, &w, [&] { w.stopTimedSending(); });
        w.sendReply("first");
        QCOMPARE(sends, 1);
    }

    void aReplyThatThrowsSwitchesRepliesOffAndLeavesTheWindowUsable()
    {
        DataWindow w;
        w.setAutoReplyOn(true);
        int calls = 0;
        w.setSendFunction([&](const QByteArray &data, const SendControl &) -> SendOutcome {
            if (++calls == 1)
                throw Exception(QStringLiteral("Null Remote Address"));
            return {data.size(), false};
        });
        QVERIFY_THROWS_EXCEPTION(Exception, w.sendReply("a"));
        QVERIFY(!w.isAutoReplyOn());
        w.sendReply("b"); // a reply asked for afterwards still goes
        QCOMPARE(calls, 2);
        QCOMPARE(w.sentBytes(), 1);
    }

    void autoReplyControlsSitInTheModeBarsFreeStretch()
    {
        DataWindow w;
        w.resize(505, 503);
        w.show();
        auto *autoReply = child<QCheckBox>(w, "autoReplySwitch");
        auto *rules = child<QPushButton>(w, "replyRulesButton");
        QCOMPARE(autoReply->text(), QStringLiteral("自动应答"));
        QCOMPARE(rules->text(), QStringLiteral("规则..."));
        const QRect hexCaption(child<QCheckBox>(w, "hexSwitch")->pos(),
            QSize(child<QCheckBox>(w, "hexSwitch")->sizeHint().width(), 17));
        for (const QWidget *added : {static_cast<QWidget *>(autoReply), static_cast<QWidget *>(rules)}) {
            QVERIFY(!added->geometry().intersects(hexCaption));
            QVERIFY(!added->geometry().intersects(child<QPushButton>(w, "resetCountersButton")->geometry()));
        }
        QVERIFY(!w.isAutoReplyOn());
        autoReply->click();
        QVERIFY(w.isAutoReplyOn());
        // A window that answers by another's rules shows neither.
        w.setAutoReplyAvailable(false);
        QVERIFY(!w.isAutoReplyOn());
        QVERIFY(autoReply->isHidden() && rules->isHidden());
    }

    void sendBoxFiltersKeysInHexModeOnly()
    {
        DataWindow w;
        w.show();
        QTest::keyClicks(child<SendEdit>(w, "sendEdit"), QStringLiteral("g 1"));
        QTest::keyClick(child<SendEdit>(w, "sendEdit"), Qt::Key_Return);
        QCOMPARE(child<SendEdit>(w, "sendEdit")->toPlainText(), QStringLiteral("g 1\n"));

        child<SendEdit>(w, "sendEdit")->clear();
        child<QCheckBox>(w, "hexSwitch")->setChecked(true);
        QTest::keyClicks(child<SendEdit>(w, "sendEdit"), QStringLiteral("g 1aFz\t"));
        QTest::keyClick(child<SendEdit>(w, "sendEdit"), Qt::Key_Return);
        QCOMPARE(child<SendEdit>(w, "sendEdit")->toPlainText(), QStringLiteral("1aF"));
        QTest::keyClick(child<SendEdit>(w, "sendEdit"), Qt::Key_Backspace);
        QCOMPARE(child<SendEdit>(w, "sendEdit")->toPlainText(), QStringLiteral("1a"));
        // Pasted text is not filtered.
        child<SendEdit>(w, "sendEdit")->insertPlainText(QStringLiteral(" zz"));
        QCOMPARE(child<SendEdit>(w, "sendEdit")->toPlainText(), QStringLiteral("1a zz"));
    }

    // Hex input is one line however long: the send box takes a pasted line
    // of megabytes without wrapping it, in time that grows with the line's
    // length, not with its square (a wrapping editor took 27 s for 400,000
    // characters), and stays editable.
    void sendBoxTakesALongLineWithoutWrapping()
    {
        DataWindow w;
        w.resize(505, 503);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        child<QCheckBox>(w, "hexSwitch")->click();
        QVERIFY(w.isHexMode());
        SendEdit *box = child<SendEdit>(w, "sendEdit");
        QClipboard *clipboard = QApplication::clipboard();
        const auto hexLine = [](qsizetype size) {
            QString line;
            line.reserve(size);
            while (line.size() < size)
                line += QStringLiteral("0123456789ABCDEF");
            line.truncate(size);
            return line;
        };
        const auto pasteAndShowNs = [&](const QString &line) {
            box->clear();
            clipboard->setText(line);
            box->setFocus();
            return growth_test::cpuNs([&] {
                QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
                QApplication::processEvents();
                box->viewport()->repaint();
            });
        };
        const QString half = hexLine(250'000);
        const QString twice = hexLine(2 * half.size());
        const growth_test::Fastest ns
            = growth_test::fastestAtNAndTwiceN([&](bool big) { return pasteAndShowNs(big ? twice : half); });
        qInfo("pasting %lld and %lld characters on one line and showing them: %lld and %lld us",
            qint64(half.size()), qint64(twice.size()), ns.atN / 1000, ns.atTwiceN / 1000);
        // Twice the line takes twice the time; a cost that grows with the
        // square of its length takes four times.
        QVERIFY2(ns.atTwiceN < 3 * ns.atN,
            qPrintable(QStringLiteral("%1 us, then %2 us").arg(ns.atN / 1000).arg(ns.atTwiceN / 1000)));

        const QString line = hexLine(10'000'000);
        for (const QString *pasted : {&twice, &line}) {
            (void)pasteAndShowNs(*pasted);
            QVERIFY(box->toPlainText() == *pasted);
            // One line that runs on past the right edge, not rows of it.
            QVERIFY(box->horizontalScrollBar()->maximum() > 0);
            QCOMPARE(box->verticalScrollBar()->maximum(), 0);
        }

        QTest::keyClicks(child<SendEdit>(w, "sendEdit"), QStringLiteral("aZ"));
        QVERIFY(child<SendEdit>(w, "sendEdit")->toPlainText() == line + QLatin1Char('a'));
        QTest::keyClick(child<SendEdit>(w, "sendEdit"), Qt::Key_Backspace);
        QVERIFY(child<SendEdit>(w, "sendEdit")->toPlainText() == line);
        QTest::keyClick(child<SendEdit>(w, "sendEdit"), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(child<SendEdit>(w, "sendEdit"), Qt::Key_Backspace);
        QVERIFY(child<SendEdit>(w, "sendEdit")->toPlainText().isEmpty());
        QTest::keyClick(child<SendEdit>(w, "sendEdit"), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(child<SendEdit>(w, "sendEdit")->toPlainText() == line);
    }

    void closeBoxOnlyMinimises()
    {
        DocumentArea area;
        area.resize(600, 600);
        area.show();
        auto *first = new DataWindow(&area);
        auto *w = new DataWindow(&area);
        QPointer<DataWindow> alive(w);
        QCOMPARE(area.activeDocument(), w);
        // Two at once are a burst: the screen catches up a moment later.
        QTRY_VERIFY(w->isVisible());
        child<QToolButton>(&area, "minimizeButton")->click();
        QVERIFY(alive);
        QVERIFY(area.isMinimized(w));
        QVERIFY(!w->isVisible());
        QCOMPARE(area.activeDocument(), first); // the one behind comes forward
        w->logReceived("still here");
        QCOMPARE(flushedLines(*w).size(), 1);
        w->bringToFront();
        QVERIFY(!area.isMinimized(w));
        QCOMPARE(area.activeDocument(), w);
        QVERIFY(w->isVisible());
    }

    void destroyWaitsForTheEventLoop()
    {
        DocumentArea area;
        auto *first = new DataWindow(&area);
        auto *w = new DataWindow(&area);
        QPointer<DataWindow> alive(w);
        w->destroyLater();
        QVERIFY(alive); // still usable by the handler that asked for it
        QCOMPARE(area.activeDocument(), first);
        QTRY_VERIFY(!alive);
        QCOMPARE(area.documentCount(), 1);
        first->destroyLater();
        QTRY_COMPARE(area.documentCount(), 0);
        QCOMPARE(area.activeDocument(), nullptr);
    }

    // The toggle is the window's: lines logged while it is on carry
    // milliseconds, the lines logged before keep their time text.
    void millisecondsShowInLinesLoggedWhileSwitchedOn()
    {
        DataWindow w;
        LogView *log = child<LogView>(w, "log");
        const QRegularExpression plain(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d 收到数据：a$"));
        const QRegularExpression withMs(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 收到数据：b$"));
        QVERIFY(!w.showsMilliseconds());
        w.logReceived("a");
        chooseFromContextMenu(*log, QStringLiteral("显示毫秒"));
        QVERIFY(w.showsMilliseconds());
        w.logReceived("b");
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))
                    .match(w.timeText())
                    .hasMatch());
        chooseFromContextMenu(*log, QStringLiteral("显示毫秒"));
        QVERIFY(!w.showsMilliseconds());
        w.logReceived("a");
        const QStringList lines = flushedLines(w);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(plain.match(lines[0]).hasMatch(), qPrintable(lines[0]));
        QVERIFY2(withMs.match(lines[1]).hasMatch(), qPrintable(lines[1]));
        QVERIFY2(plain.match(lines[2]).hasMatch(), qPrintable(lines[2]));

        DataWindow other; // per window
        QVERIFY(!other.showsMilliseconds());
        other.logReceived("a");
        QVERIFY(plain.match(flushedLines(other)[0]).hasMatch());
    }

    // A setup given to a session before its window is built (as a workspace
    // gives it) is what the built window shows, menu switch included; what
    // the user then types and ticks is what the session's setup says.
    void aSetupShowsInTheWindowAndWhatTheUserEditsIsTheSetup()
    {
        DataWindow w;
        SessionSetup given;
        given.sendText = QStringLiteral("41 42");
        given.hexMode = true;
        given.repeatCount = QStringLiteral("7");
        given.interval = QStringLiteral("250");
        given.milliseconds = true;
        given.autoReply = true;
        w.session()->setSetup(given);
        QVERIFY(!w.isBuilt());
        QCOMPARE(child<PlainTextBox>(w, "sendEdit")->toPlainText(), given.sendText);
        QVERIFY(child<QCheckBox>(w, "hexSwitch")->isChecked());
        QCOMPARE(child<RepeatCountBox>(w, "repeatCountBox")->currentText(), given.repeatCount);
        QCOMPARE(child<QLineEdit>(w, "intervalEdit")->text(), given.interval);
        QVERIFY(child<QCheckBox>(w, "autoReplySwitch")->isChecked());
        QVERIFY(child<LogView>(w, "log")->showsMilliseconds());
        QCOMPARE(w.session()->setup(), given);

        auto *interval = child<QLineEdit>(w, "intervalEdit");
        interval->selectAll();
        QTest::keyClicks(interval, QStringLiteral("40"));
        child<QCheckBox>(w, "hexSwitch")->click();
        auto *send = child<PlainTextBox>(w, "sendEdit");
        send->setFocus();
        QTest::keyClick(send, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(send, QStringLiteral("!"));
        const SessionSetup edited = w.session()->setup();
        QCOMPARE(edited.interval, QStringLiteral("40"));
        QVERIFY(!edited.hexMode);
        QVERIFY2(edited.sendText.endsWith(QLatin1Char('!')), qPrintable(edited.sendText));
        QCOMPARE(edited.repeatCount, given.repeatCount);
    }

    // Every line from the start of the recording reaches the file, in order,
    // past the log's caps; deleting the window writes out the rest and
    // closes the file.
    void recordingKeepsEveryLineAndEndsWithTheWindow()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("window.log"));
        FileChoiceScript choices;
        MessageRecorder recorder;
        auto *w = new DataWindow;
        const QPointer<DataWindow> alive(w);
        LogView *log = child<LogView>(w, "log");
        log->setCaps(5, 1000);
        w->appendLogLine(QStringLiteral("before the recording"));
        recordThroughTheMenu(*w, choices, path);
        QTRY_VERIFY(log->isRecordingShown());
        QCOMPARE(contextMenuTexts(*log)[7], QStringLiteral("停止记录"));

        qint64 received = 0;
        for (int i = 0; i < 500; ++i) {
            const QByteArray piece = QByteArray::number(i) + "\r\nzh 中";
            w->logReceived(piece);
            received += piece.size();
        }
        QCOMPARE(flushedLines(*w).size(), 10); // the view keeps five entries of two lines
        QCOMPARE(w->receivedBytes(), received);
        w->destroyLater();
        QTRY_VERIFY(!alive);

        const QList<QByteArray> written = fileBytes(path).split('\n');
        QCOMPARE(written.size(), 2 * 500 + 1); // the last line feed leaves an empty piece
        for (int i = 0; i < 500; ++i) {
            QVERIFY(written[2 * i].endsWith(" 收到数据：" + QByteArray::number(i)));
            QCOMPARE(written[2 * i + 1], QByteArray("zh 中"));
        }
        QVERIFY(!fileBytes(path).contains("before the recording"));
        QVERIFY(recorder.messages.isEmpty());
        QCOMPARE(choices.asked.size(), 1);
    }

    void recordingIsStoppedFromTheMenuAndRefusedForAFileThatCannotBeOpened()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("stopped.log"));
        FileChoiceScript choices;
        MessageRecorder recorder;
        DataWindow w;
        LogView *log = child<LogView>(w, "log");
        recordThroughTheMenu(w, choices, path);
        QTRY_VERIFY(log->isRecordingShown());
        w.appendLogLine(QStringLiteral("kept"));
        chooseFromContextMenu(*log, QStringLiteral("停止记录"));
        QVERIFY(!log->isRecordingShown());
        w.appendLogLine(QStringLiteral("not kept"));
        QCOMPARE(fileBytes(path), QByteArray("kept\n"));

        const QString missing = dir.filePath(QStringLiteral("missing/x.log"));
        recordThroughTheMenu(w, choices, missing);
        QTRY_COMPARE(recorder.messages.size(), 1);
        QCOMPARE(recorder.messages[0],
            QStringLiteral("记录日志失败：") + missing + QStringLiteral("：") + systemText(ENOENT));
        QVERIFY(!log->isRecordingShown());
        QCOMPARE(contextMenuTexts(*log)[7], QStringLiteral("记录到文件..."));

        chooseFromContextMenu(*log, QStringLiteral("记录到文件...")); // cancelled
        QTRY_COMPARE(choices.asked.size(), 3);
        QVERIFY(!log->isRecordingShown());
        QCOMPARE(recorder.messages.size(), 1);
    }

    // A file system that stops answering holds the recording's writer: the
    // stop and the window's end wait for it only a while, and the log says
    // what was given up.
    void aRecordingWhoseFileStopsAnsweringIsGivenUpWithALogLine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("stuck.log"));
        StalledFiles files(std::chrono::seconds(10));
        files.stallWrites();
        FileChoiceScript choices;
        MessageRecorder recorder;
        auto *w = new DataWindow;
        const QPointer<DataWindow> alive(w);
        LogView *log = child<LogView>(w, "log");
        recordThroughTheMenu(*w, choices, path);
        QTRY_VERIFY(log->isRecordingShown());
        w->appendLogLine(QStringLiteral("stuck"));
        QTRY_COMPARE(files.stalledCalls(), 1);
        w->appendLogLine(QStringLiteral("behind"));
        chooseFromContextMenu(*log, QStringLiteral("停止记录"));
        QVERIFY(!log->isRecordingShown());
        QVERIFY2(!files.gaveUp(), "the stop waited until the file system answered");
        const QString line = flushedLines(*w).last();
        QVERIFY2(
            line.endsWith(QStringLiteral(" 停止记录：") + path + QStringLiteral(" 无响应，13 字节未写入")),
            qPrintable(line));
        QVERIFY(recorder.messages.isEmpty());

        // Closed while stuck, as closing it, removing its endpoint or
        // quitting does.
        recordThroughTheMenu(*w, choices, dir.filePath(QStringLiteral("second.log")));
        QTRY_VERIFY(log->isRecordingShown());
        w->appendLogLine(QStringLiteral("second"));
        QTRY_COMPARE(files.stalledCalls(), 2);
        w->destroyLater();
        // Liveness only: the end gives the writer two seconds.
        QTRY_VERIFY_WITH_TIMEOUT(!alive, 10000);
        QVERIFY(!files.gaveUp());
        QVERIFY(recorder.messages.isEmpty());
    }

    void recordingStopsOnAFullDiskWithOneMessageAndTheWindowGoesOn()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("full.log"));
        StalledFiles files;
        files.failWrites(ENOSPC);
        FileChoiceScript choices;
        MessageRecorder recorder;
        DataWindow w;
        LogView *log = child<LogView>(w, "log");
        recordThroughTheMenu(w, choices, path);
        QTRY_VERIFY(log->isRecordingShown());
        w.logReceived("first");
        QTRY_COMPARE(recorder.messages.size(), 1);
        QCOMPARE(recorder.messages[0],
            QStringLiteral("记录日志失败：") + path + QStringLiteral("：") + systemText(ENOSPC)
                + QStringLiteral("，已停止记录"));
        QVERIFY(!log->isRecordingShown());
        for (int i = 0; i < 20; ++i)
            w.logReceived("more");
        QCOMPARE(flushedLines(w).size(), 21);
        QCOMPARE(w.countersText(), QStringLiteral("收：85字节，发:0字节"));
        QTest::qWait(300);
        QCOMPARE(recorder.messages.size(), 1);
    }

    // Run under tests/mountns-run, which gives it a 64 KB tmpfs.
    void recordingStopsWhenItsFileSystemFillsUp()
    {
        const QString smallFs = qEnvironmentVariable("PW_SMALL_FS");
        if (smallFs.isEmpty())
            QSKIP(
                "needs a small file system of its own: runs under tests/mountns-run (tst_datawindow_fullfs)");
        const QString path = QDir(smallFs).filePath(QStringLiteral("full.log"));
        FileChoiceScript choices;
        MessageRecorder recorder;
        DataWindow w;
        LogView *log = child<LogView>(w, "log");
        recordThroughTheMenu(w, choices, path);
        QTRY_VERIFY(log->isRecordingShown());
        const QByteArray piece(1000, 'x');
        // 200 KB against 64 KB: full well before the end.
        for (int i = 0; i < 200; ++i)
            w.logReceived(piece);
        QTRY_COMPARE(recorder.messages.size(), 1);
        QCOMPARE(recorder.messages[0],
            QStringLiteral("记录日志失败：") + path + QStringLiteral("：") + systemText(ENOSPC)
                + QStringLiteral("，已停止记录"));
        QVERIFY(!log->isRecordingShown());
        const qint64 received = w.receivedBytes();
        w.logReceived("after");
        QCOMPARE(w.receivedBytes(), received + 5);
        QVERIFY(flushedLines(w).last().endsWith(QStringLiteral(" 收到数据：after")));
        const qint64 size = QFileInfo(path).size();
        QVERIFY2(size > 0 && size <= 64 * 1024, qPrintable(QString::number(size)));
        QTest::qWait(300);
        QCOMPARE(recorder.messages.size(), 1);
    }

    // The count box reads as an editable combo box named by its label, and
    // its list opens from the keyboard as a combo box's does.
    void countBoxIsAnEditableComboBox()
    {
        DataWindow w;
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto *box = child<RepeatCountBox>(w, "repeatCountBox");
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(box);
        QVERIFY(accessible);
        QCOMPARE(accessible->role(), QAccessible::ComboBox);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("重复发送次数"));
        QCOMPARE(accessible->text(QAccessible::Value), QStringLiteral("1"));
        QVERIFY(accessible->state().editable);
        box->setEditText(QStringLiteral("100"));
        QCOMPARE(accessible->text(QAccessible::Value), QStringLiteral("100"));

        for (const auto &[key, modifiers] :
            {std::pair{Qt::Key_Down, Qt::AltModifier}, std::pair{Qt::Key_F4, Qt::NoModifier}}) {
            box->lineEdit()->setFocus();
            QTest::keyClick(box->lineEdit(), key, modifiers);
            QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QCOMPARE(menu->activeAction()->text(), QStringLiteral("100"));
            QVERIFY(accessible->state().expanded);
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
            QTRY_COMPARE(QApplication::activePopupWidget(), nullptr);
            QCOMPARE(box->currentText(), QStringLiteral("1000"));
            box->setEditText(QStringLiteral("100"));
        }
        QCOMPARE(box->lineEdit()->text(), QStringLiteral("100"));
    }

    // A serial session's window shows its modem lines in a strip, built
    // with the rest of the window when it is first shown: until then it
    // keeps no strip and follows no line changes. Built, it shows what the
    // lines are now and then every change, and hands the switches and the
    // break to the session; a switch shows what the device answers, not the
    // click. Other sessions' windows have no strip.
    void aSerialSessionsWindowShowsItsModemLinesOnceBuilt()
    {
        EndpointSession session;
        SerialLines &lines = session.makeSerialLines();
        DataWindow w(nullptr, &session);
        lines.show(SerialLines::State::OpenWithoutLines, {.dtr = true, .rts = true});
        QVERIFY(!w.isBuilt());
        QVERIFY(w.findChildren<ModemLinesStrip *>().isEmpty());

        w.resize(505, 503);
        w.show();
        QVERIFY(w.isBuilt());
        auto *strip = child<ModemLinesStrip>(w, "modemLinesStrip");
        QCOMPARE(child<StatusPanel>(w, "statusPanel")->title(), QStringLiteral("串口状态"));
        QCOMPARE(strip->state(), ModemLinesStrip::State::OpenWithoutModemLines);
        QVERIFY(!child<QCheckBox>(w, "dtrSwitch")->isEnabled());
        QVERIFY(child<QCheckBox>(w, "dtrSwitch")->isChecked());
        QSignalSpy breaks(&lines, &SerialLines::breakRequested);
        child<QPushButton>(w, "breakButton")->click();
        QCOMPARE(breaks.size(), 1);
        // Under the status panel, above the log, all of it in the window.
        QVERIFY(strip->geometry().top() >= child<StatusPanel>(w, "statusPanel")->geometry().bottom());
        QVERIFY(strip->mapTo(&w, QPoint(0, strip->height())).y()
            <= child<QGroupBox>(w, "receiveBox")->mapTo(&w, QPoint(0, 0)).y());

        lines.show(SerialLines::State::Open, {.dtr = true, .rts = false, .cts = true, .dcd = true});
        QCOMPARE(strip->state(), ModemLinesStrip::State::Open);
        QVERIFY(child<QCheckBox>(w, "dtrSwitch")->isChecked());
        QVERIFY(!child<QCheckBox>(w, "rtsSwitch")->isChecked());
        const auto level = [&](const char *name) { return child<QLabel>(w, name)->accessibleDescription(); };
        QCOMPARE(QStringList({level("ctsIndicator"), level("dsrIndicator"), level("dcdIndicator"),
                     level("riIndicator")}),
            QStringList({"开", "关", "开", "关"}));

        QSignalSpy dtr(&lines, &SerialLines::dtrRequested);
        QSignalSpy rts(&lines, &SerialLines::rtsRequested);
        child<QCheckBox>(w, "dtrSwitch")->click();
        child<QCheckBox>(w, "rtsSwitch")->click();
        QCOMPARE(dtr.size(), 1);
        QCOMPARE(dtr.at(0).at(0).toBool(), false);
        QCOMPARE(rts.size(), 1);
        QCOMPARE(rts.at(0).at(0).toBool(), true);
        // The device kept DTR up (a refusal, say): the switch says so.
        lines.show(SerialLines::State::Open, {.dtr = true, .rts = true, .cts = true});
        QVERIFY(child<QCheckBox>(w, "dtrSwitch")->isChecked());
        QVERIFY(child<QCheckBox>(w, "rtsSwitch")->isChecked());

        lines.show(SerialLines::State::Closed, {});
        QCOMPARE(strip->state(), ModemLinesStrip::State::Closed);
        QVERIFY(!child<QPushButton>(w, "breakButton")->isEnabled());

        DataWindow network;
        network.show();
        QVERIFY(network.isBuilt());
        QVERIFY(network.findChildren<ModemLinesStrip *>().isEmpty());
    }

    // Every control of the window is reached with the keyboard alone, in
    // the order it reads: Tab, and Ctrl+Tab out of the send box, where Tab
    // is typed. A serial port's window has its modem lines' controls under
    // the status panel, each with a name to tell.
    void tabReachesEveryControlInOrder_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("network") << false;
        QTest::newRow("serial port") << true;
    }
    void tabReachesEveryControlInOrder()
    {
        QFETCH(bool, serial);
        EndpointSession session;
        if (serial)
            session.makeSerialLines().show(SerialLines::State::Open, {});
        DataWindow w(nullptr, &session);
        w.resize(505, 503);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto *sendEdit = child<SendEdit>(w, "sendEdit");
        const auto pressTab = [&](bool back) {
            QWidget *focus = QApplication::focusWidget();
            const bool inSendBox = focus == sendEdit;
            if (back)
                QTest::keyClick(focus, Qt::Key_Backtab,
                    inSendBox ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ShiftModifier);
            else
                QTest::keyClick(focus, Qt::Key_Tab, inSendBox ? Qt::ControlModifier : Qt::NoModifier);
        };
        const auto nameOf = [](QWidget *widget) {
            // The count box's text stands for the box.
            if (auto *box = qobject_cast<RepeatCountBox *>(widget->parentWidget()))
                return box->objectName();
            return widget->objectName();
        };
        QStringList expected;
        std::vector<const char *> order{"startButton", "stopButton", "webReplySwitch"};
        if (serial)
            order.insert(order.end(), {"dtrSwitch", "rtsSwitch", "breakButton"});
        order.insert(order.end(),
            {"log", "sendEdit", "sendButton", "repeatCountBox", "intervalEdit", "startTimerButton",
                "stopTimerButton", "hexSwitch", "autoReplySwitch", "replyRulesButton",
                "resetCountersButton"});
        for (const char *name : order) {
            QWidget *widget = child<QWidget>(w, name);
            if (widget->isVisibleTo(&w))
                expected << QString::fromLatin1(name);
        }
        QCOMPARE(expected.contains(QStringLiteral("dtrSwitch")), serial);
        for (const char *name : {"dtrSwitch", "rtsSwitch", "breakButton", "ctsIndicator", "dsrIndicator",
                 "dcdIndicator", "riIndicator"}) {
            if (!serial)
                break;
            QAccessibleInterface *face = QAccessible::queryAccessibleInterface(child<QWidget>(w, name));
            QVERIFY2(face && !face->text(QAccessible::Name).isEmpty(), name);
        }
        // Whatever else takes the focus by Tab is in the list too.
        for (QWidget *widget : w.findChildren<QWidget *>())
            if (widget->isVisibleTo(&w) && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)
                && !widget->focusProxy())
                QVERIFY2(expected.contains(nameOf(widget)), qPrintable(nameOf(widget)));

        child<QWidget>(w, qPrintable(expected.first()))->setFocus(Qt::TabFocusReason);
        QStringList forward{nameOf(QApplication::focusWidget())};
        for (int step = 0; step < 2 * expected.size() && forward.size() < expected.size(); ++step) {
            pressTab(false);
            forward << nameOf(QApplication::focusWidget());
        }
        QCOMPARE(forward, expected);
        pressTab(false);
        QCOMPARE(nameOf(QApplication::focusWidget()), expected.first());
        QStringList backward;
        for (int step = 0; step < 2 * expected.size() && backward.size() < expected.size(); ++step) {
            pressTab(true);
            backward.prepend(nameOf(QApplication::focusWidget()));
        }
        QCOMPARE(backward, expected);
        QVERIFY(sendEdit->toPlainText().isEmpty());
    }
};

QTEST_MAIN(TstDataWindow)
#include "tst_datawindow.moc"
