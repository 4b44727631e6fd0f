// The log view: selecting and copying its text, keeping the selection on its
// entries while they come and go, wrapping long entries once, saving it,
// finding in it; and the feed that hands it lines in batches and records
// them to a file.

#include "support/contextmenu.h"
#include "support/growth.h"
#include "support/logentries.h"
#include "support/stalledfiles.h"
#include "support/widgets.h"
#include "ui/logaccessible.h"
#include "ui/logfeed.h"
#include "ui/logfindbar.h"
#include "ui/logview.h"
#include "ui/messages.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace {

// The middle of a character boundary in the row drawn `fromBottom` rows
// above the newest one, while the view follows the tail.
QPoint logPoint(LogView &view, int fromBottom, const QString &before)
{
    const int margin = 4;
    const int lineHeight = view.fontMetrics().lineSpacing();
    const int top = view.viewport()->height() - margin - (fromBottom + 1) * lineHeight;
    int x = margin;
    for (const QChar c : before)
        x += view.fontMetrics().horizontalAdvance(c);
    return {x, top + lineHeight / 2};
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<cannot be read>");
}

// Whether any pixel of the view's surface has the colour.
bool showsColour(LogView &view, const QColor &colour)
{
    const QImage shot = view.viewport()->grab().toImage();
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (shot.pixelColor(x, y).rgb() == colour.rgb())
                return true;
        }
    }
    return false;
}

const QColor matchColour(255, 214, 102);

// The texts of the log's changes told to assistive technologies, with the
// objects they were told about.
QList<QObject *> toldAbout;
QStringList toldTexts;

void recordTextChange(QAccessibleTextUpdateEvent &event)
{
    toldAbout << event.object();
    toldTexts << event.textInserted();
}

} // namespace

class TstLogView : public QObject {
    Q_OBJECT

private slots:
    void logTextIsSelectedWithTheMouseAndCopied()
    {
        LogView view;
        view.resize(400, 200);
        view.show();
        view.appendEntries(
            lineEntries({QStringLiteral("alpha beta"), QStringLiteral("gamma"), QStringLiteral("delta")}));
        QClipboard *clipboard = QApplication::clipboard();
        clipboard->clear();

        // Nothing selected: Ctrl+C copies the whole log.
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("alpha beta\ngamma\ndelta"));

        QWidget *surface = view.viewport();
        QTest::mousePress(surface, Qt::LeftButton, {}, logPoint(view, 2, QStringLiteral("alp")));
        QTest::mouseMove(surface, logPoint(view, 0, QStringLiteral("del")));
        QTest::mouseRelease(surface, Qt::LeftButton, {}, logPoint(view, 0, QStringLiteral("del")));
        QVERIFY(view.hasSelection());
        QCOMPARE(view.selectedText(), QStringLiteral("ha beta\ngamma\ndel"));
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("ha beta\ngamma\ndel"));

        // Dragging backwards selects the same way; a double click takes the entry.
        QTest::mousePress(surface, Qt::LeftButton, {}, logPoint(view, 0, QStringLiteral("delt")));
        QTest::mouseMove(surface, logPoint(view, 1, QStringLiteral("ga")));
        QTest::mouseRelease(surface, Qt::LeftButton, {}, logPoint(view, 1, QStringLiteral("ga")));
        QCOMPARE(view.selectedText(), QStringLiteral("mma\ndelt"));
        QTest::mouseDClick(surface, Qt::LeftButton, {}, logPoint(view, 1, QStringLiteral("g")));
        QCOMPARE(view.selectedText(), QStringLiteral("gamma"));

        // The selection is painted in the highlight colour.
        const QColor highlight = view.palette().color(QPalette::Highlight);
        const QImage shot = surface->grab().toImage();
        const QPoint inside = logPoint(view, 1, QStringLiteral("g"));
        QCOMPARE(shot.pixelColor(
                         inside.x(), view.viewport()->height() - 4 - 2 * view.fontMetrics().lineSpacing() + 1)
                     .rgb(),
            highlight.rgb());

        // Ctrl+A selects everything; a plain click clears the selection.
        QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(view.selectedText(), view.toPlainText());
        QTest::mouseClick(surface, Qt::LeftButton, {}, logPoint(view, 0, QStringLiteral("d")));
        QVERIFY(!view.hasSelection());
    }

    void logSelectionStaysOnItsTextWhileEntriesComeAndGo()
    {
        LogView view;
        view.resize(400, 200);
        view.show();
        view.setCaps(3, 1000);
        view.appendEntries(
            lineEntries({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}));
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, logPoint(view, 1, QStringLiteral("t")));
        QCOMPARE(view.selectedText(), QStringLiteral("two"));

        view.appendEntries(lineEntries({QStringLiteral("four")})); // "one" goes; the rows shift
        QCOMPARE(view.selectedText(), QStringLiteral("two"));
        view.appendEntries(lineEntries({QStringLiteral("five")})); // so does the selected entry
        QVERIFY(!view.hasSelection());

        QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        view.appendEntries(
            lineEntries({QStringLiteral("six")})); // a selection losing its head keeps its tail
        QCOMPARE(view.selectedText(), QStringLiteral("four\nfive"));
        view.clear();
        QVERIFY(!view.hasSelection());
        view.appendEntries(lineEntries({QStringLiteral("seven")}));
        QVERIFY(!view.hasSelection());
    }

    // A multi-megabyte entry (a large hex send) is wrapped once for the
    // view's width: painting it again and selecting in it with the mouse cost
    // what is on screen, not the whole entry each time.
    void longEntryIsNotWrappedAgainAtEveryPaint()
    {
        LogView view;
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QString entry;
        entry.reserve(10'000'000);
        while (entry.size() < 10'000'000 - 3)
            entry += QStringLiteral("3F ");
        entry += QStringLiteral("end");

        QElapsedTimer clock;
        clock.start();
        view.appendEntries(lineEntries({QStringLiteral("before"), entry}));
        view.viewport()->repaint();
        const qint64 firstMs = clock.restart();

        QWidget *surface = view.viewport();
        const int rows = 20;
        const int lineHeight = view.fontMetrics().lineSpacing();
        QTest::mousePress(surface, Qt::LeftButton, {}, QPoint(2, 6));
        for (int i = 1; i <= rows; ++i) {
            QTest::mouseMove(surface, QPoint(200, 6 + i * lineHeight / 2));
            surface->repaint();
        }
        const QPoint corner(surface->width() - 1, surface->height() - 1);
        QTest::mouseMove(surface, corner);
        QTest::mouseRelease(surface, Qt::LeftButton, {}, corner);
        const qint64 againMs = clock.elapsed();
        qInfo("10 M character entry: first paint %lld ms, %d selecting moves with paints %lld ms", firstMs,
            rows, againMs);

        // The view follows the entry's tail; the selection runs to its end.
        const QString selected = view.selectedText();
        QVERIFY(selected.size() > 100);
        QVERIFY2(
            entry.endsWith(selected), qPrintable(selected.left(40) + QLatin1Char('|') + selected.right(40)));
        QVERIFY2(againMs < 5 * std::max<qint64>(firstMs, 20),
            qPrintable(QStringLiteral("%1 paints took %2 ms after a first one of %3 ms")
                           .arg(rows)
                           .arg(againMs)
                           .arg(firstMs)));
    }

    // Counters shown beside the log catch up once per batch, before the
    // batch's lines show, and only when something asked for it.
    void feedSignalsFlushedOnceAfterATouchBeforeTheLinesShow()
    {
        LogView view;
        auto *feed = new LogFeed(&view);
        feed->setView(&view);
        QList<int> entriesAtSignal;
        connect(feed, &LogFeed::flushed, &view, [&] { entriesAtSignal << view.entryCount(); });

        feed->append(lineEntry(QStringLiteral("one")));
        feed->flush();
        QCOMPARE(view.entryCount(), 1);
        QVERIFY(entriesAtSignal.isEmpty()); // nothing touched

        feed->touch();
        feed->touch();
        feed->append(lineEntry(QStringLiteral("two")));
        QCOMPARE(view.entryCount(), 1); // batched
        QTRY_COMPARE(view.entryCount(), 2);
        QCOMPARE(entriesAtSignal, QList<int>{1}); // once, before "two" reached the view

        feed->flush();
        QCOMPARE(entriesAtSignal.size(), 1);
    }

    // A window not built yet has a feed without a view: it keeps what the
    // view would have kept and hands it over, in order, when the view comes.
    void feedWithoutAViewKeepsTheNewestEntriesForItsView()
    {
        LogFeed feed(nullptr);
        int flushes = 0;
        connect(&feed, &LogFeed::flushed, &feed, [&] { ++flushes; });
        const int extra = 7;
        for (int i = 0; i < LogLimits::MaxEntries + extra; ++i)
            feed.append(lineEntry(QString::number(i)));
        feed.touch();
        QTRY_COMPARE(flushes, 1); // counters are told without a view too

        LogView view;
        feed.setView(&view);
        QCOMPARE(view.entryCount(), LogLimits::MaxEntries);
        const QStringList shown = view.toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(shown.size(), LogLimits::MaxEntries);
        QCOMPARE(shown.front(), QString::number(extra));
        QCOMPARE(shown.back(), QString::number(LogLimits::MaxEntries + extra - 1));

        feed.append(lineEntry(QStringLiteral("after")));
        feed.flush();
        QVERIFY(view.toPlainText().endsWith(QStringLiteral("\nafter")));
    }

    // A feed at its cap drops its oldest entry for each one it takes: what
    // that costs follows what is dropped, not how much is kept (moving the
    // kept ones up for each drop made a 100,000-entry backlog cost the square).
    void feedAtItsCapDropsInTimeLinearInWhatItDrops()
    {
        const auto dropNs = [](bool big) {
            const int kept = big ? 8000 : 4000;
            LogFeed feed(nullptr);
            feed.setCaps(kept, LogLimits::MaxBytes);
            for (int i = 0; i < kept; ++i)
                feed.append(lineEntry(QStringLiteral("k")));
            return growth_test::cpuNs([&] {
                for (int i = 0; i < kept; ++i)
                    feed.append(lineEntry(QStringLiteral("d")));
            });
        };
        const growth_test::Fastest ns = growth_test::fastestAtNAndTwiceN(dropNs);
        QVERIFY2(ns.atTwiceN < 3 * ns.atN,
            qPrintable(QStringLiteral("%1 us, then %2 us").arg(ns.atN / 1000).arg(ns.atTwiceN / 1000)));
    }

    // First of the file cases: the folder suggested first is the home folder.
    void savedLogIsTheTextAsShownOneEntryPerLine()
    {
        QTemporaryDir dir;
        LogView view;
        view.resize(400, 200);
        view.show();
        view.appendEntries(lineEntries({QStringLiteral("14:05:33 收到数据：abc{61 62 63 }"),
            QStringLiteral("two\nlines"), QStringLiteral("a\u2400b")}));
        FileChoiceScript choices;
        MessageRecorder recorder;

        chooseFromContextMenu(view, QStringLiteral("保存日志..."));
        QTRY_COMPARE(choices.asked.size(), 1); // cancelled: nothing written
        const QRegularExpression suggestion(QStringLiteral("^(.*)/portwright_\\d{8}-\\d{6}\\.log$"));
        const auto first = suggestion.match(choices.asked[0]);
        QVERIFY2(first.hasMatch(), qPrintable(choices.asked[0]));
        QCOMPARE(first.captured(1), QDir::homePath());

        const QString path = dir.filePath(QStringLiteral("saved.log"));
        choices.answers.push_back(path);
        view.setFileNameBase(QStringLiteral("TCP Server 127.0.0.1:5000/a*b"));
        chooseFromContextMenu(view, QStringLiteral("保存日志..."));
        QTRY_VERIFY(QFile::exists(path));
        QCOMPARE(fileBytes(path), (view.toPlainText() + QLatin1Char('\n')).toUtf8());
        QCOMPARE(fileBytes(path).count('\n'), 4);
        QVERIFY(recorder.messages.isEmpty());

        // The next suggestion is in the folder just chosen, with the base made safe.
        const QString failing = dir.filePath(QStringLiteral("missing/saved.log"));
        choices.answers.push_back(failing);
        chooseFromContextMenu(view, QStringLiteral("保存日志..."));
        QTRY_COMPARE(recorder.messages.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(dir.path())
                     + QStringLiteral("/TCP_Server_127.0.0.1_5000_a_b_\\d{8}-\\d{6}\\.log$"))
                     .match(choices.asked[2])
                     .hasMatch(),
            qPrintable(choices.asked[2]));
        QVERIFY2(recorder.messages[0].startsWith(
                     QStringLiteral("保存日志失败：") + failing + QStringLiteral("：")),
            qPrintable(recorder.messages[0]));
        QVERIFY(recorder.messages[0].size() > (QStringLiteral("保存日志失败：") + failing).size() + 1);
        QVERIFY(!QFile::exists(failing));
    }

    // A save puts a new file in place of the old one: over a named pipe or a
    // device node that would replace the node itself.
    void aLogIsSavedOverNothingButARegularFile()
    {
        QTemporaryDir dir;
        LogView view;
        view.appendEntries(lineEntries({QStringLiteral("one"), QStringLiteral("two")}));
        FileChoiceScript choices;
        MessageRecorder recorder;
        const QString fifo = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        choices.answers.push_back(fifo);
        chooseFromContextMenu(view, QStringLiteral("保存日志..."));
        QTRY_COMPARE(recorder.messages.size(), 1);
        QCOMPARE(
            recorder.messages[0], QStringLiteral("保存日志失败：") + fifo + QStringLiteral("：不是普通文件"));
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(fifo).constData(), &info), 0);
        QVERIFY(S_ISFIFO(info.st_mode));

        // An existing regular file is replaced as before.
        const QString existing = dir.filePath(QStringLiteral("old.log"));
        {
            QFile old(existing);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old content that is longer\n");
        }
        choices.answers.push_back(existing);
        chooseFromContextMenu(view, QStringLiteral("保存日志..."));
        QTRY_COMPARE(fileBytes(existing), QByteArray("one\ntwo\n"));
        QCOMPARE(recorder.messages.size(), 1);
    }

    // Recording appends to the file chosen: the dialog must not ask whether
    // to replace it, as the save's does.
    void recordingAsksForAFileWithoutOfferingToReplaceIt()
    {
        LogView view;
        FileChoiceScript choices;
        chooseFromContextMenu(view, QStringLiteral("保存日志..."));
        QTRY_COMPARE(choices.kinds.size(), size_t(1));
        chooseFromContextMenu(view, QStringLiteral("记录到文件..."));
        QTRY_COMPARE(choices.kinds.size(), size_t(2));
        QCOMPARE(choices.kinds[0], FileDialogKind::Save);
        QVERIFY(choices.kinds[1] != FileDialogKind::Save);
        QVERIFY(choices.kinds[1] != FileDialogKind::Open);
    }

    // Recording starts with what is appended after it, and everything
    // appended reaches the file, however few entries the view keeps.
    void feedRecordsEveryEntryWhateverTheViewKeeps()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("recorded.log"));
        LogView view;
        view.setCaps(10, 1000);
        LogFeed feed(nullptr);
        feed.setView(&view);
        feed.append(lineEntry(QStringLiteral("before")));
        QVERIFY(!feed.isRecording());
        QCOMPARE(feed.startRecording(path), QString());
        QVERIFY(feed.isRecording());
        QCOMPARE(feed.recordingPath(), path);

        QByteArray expected;
        for (int i = 0; i < 3000; ++i) {
            const QString entry
                = QStringLiteral("%1 收到数据：").arg(i) + (i % 7 ? QString() : QStringLiteral("x\ny"));
            feed.append(lineEntry(entry));
            expected += entry.toUtf8() + '\n';
            if (i % 500 == 0)
                feed.flush();
        }
        feed.flush();
        QCOMPARE(view.entryCount(), 10);
        feed.stopRecording();
        QVERIFY(!feed.isRecording());
        QCOMPARE(feed.recordingPath(), QString());
        QCOMPARE(fileBytes(path), expected);
        feed.append(lineEntry(QStringLiteral("after")));
        feed.flush();
        QCOMPARE(fileBytes(path), expected);

        QTemporaryDir other;
        QCOMPARE(feed.startRecording(other.filePath(QStringLiteral("missing/x.log"))),
            QString::fromLocal8Bit(std::strerror(ENOENT)));
        QVERIFY(!feed.isRecording());
    }

    void recordingStopsOnceOnAWriteErrorAndTheFeedGoesOn()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("full.log"));
        StalledFiles files;
        files.failWrites(ENOSPC); // a full disk
        LogView view;
        LogFeed feed(nullptr);
        feed.setView(&view);
        QSignalSpy failures(&feed, &LogFeed::recordingFailed);
        QCOMPARE(feed.startRecording(path), QString());
        feed.append(lineEntry(QStringLiteral("one")));
        QTRY_COMPARE(failures.size(), 1);
        QCOMPARE(failures.at(0).at(0).toString(), path);
        QCOMPARE(failures.at(0).at(1).toString(), QString::fromLocal8Bit(std::strerror(ENOSPC)));
        QVERIFY(!feed.isRecording());
        for (int i = 0; i < 50; ++i)
            feed.append(lineEntry(QStringLiteral("more")));
        QVERIFY(!failures.wait(300));
        feed.flush();
        QCOMPARE(view.entryCount(), 51);
    }

    void findGoesToTheNextAndPreviousMatchAndWraps()
    {
        LogView view;
        view.resize(400, 200);
        view.show();
        view.appendEntries(lineEntries(
            {QStringLiteral("alpha Beta beta"), QStringLiteral("gamma"), QStringLiteral("BETA end")}));
        const auto selected = [&] { return view.selectedText(); };

        QVERIFY(view.find(QStringLiteral("beta"), Qt::CaseInsensitive, false));
        QCOMPARE(selected(), QStringLiteral("Beta"));
        QVERIFY(view.find(QStringLiteral("beta"), Qt::CaseInsensitive, false));
        QCOMPARE(selected(), QStringLiteral("beta")); // the second in the same entry
        QVERIFY(view.find(QStringLiteral("beta"), Qt::CaseInsensitive, false));
        QCOMPARE(selected(), QStringLiteral("BETA"));
        QVERIFY(view.find(QStringLiteral("beta"), Qt::CaseInsensitive, false));
        QCOMPARE(selected(), QStringLiteral("Beta")); // wrapped to the top
        QVERIFY(view.find(QStringLiteral("beta"), Qt::CaseInsensitive, true));
        QCOMPARE(selected(), QStringLiteral("BETA")); // and back round the other way
        QVERIFY(view.find(QStringLiteral("beta"), Qt::CaseInsensitive, true));
        QCOMPARE(selected(), QStringLiteral("beta"));

        // Case sensitive: only the lower-case one, found again and again.
        for (int i = 0; i < 3; ++i) {
            QVERIFY(view.find(QStringLiteral("beta"), Qt::CaseSensitive, i == 1));
            QCOMPARE(selected(), QStringLiteral("beta"));
            QCOMPARE(view.selectedText(), view.toPlainText().mid(11, 4));
        }
        QVERIFY(!view.find(QStringLiteral("delta"), Qt::CaseInsensitive, false));
        QCOMPARE(selected(), QStringLiteral("beta")); // a miss keeps the selection
    }

    void findBarSearchesFromTheKeysAndHighlightsTheMatchesOnScreen()
    {
        LogView view;
        view.resize(500, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.appendEntries(lineEntries(
            {QStringLiteral("one needle"), QStringLiteral("two"), QStringLiteral("three NEEDLE")}));
        const QRect before = view.geometry();
        QVERIFY(!showsColour(view, matchColour));

        QTest::keyClick(&view, Qt::Key_F, Qt::ControlModifier);
        auto *bar = child<LogFindBar>(view, "findBar");
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->parentWidget(), &view);
        QCOMPARE(view.geometry(), before);
        QVERIFY(bar->geometry().right() < view.width() && bar->geometry().right() > view.width() - 20);
        QVERIFY(bar->y() < 20);

        auto *edit = child<QLineEdit>(view, "findEdit");
        QTest::keyClicks(edit, QStringLiteral("needle"));
        QVERIFY(showsColour(view, matchColour));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(view.selectedText(), QStringLiteral("needle"));
        QTest::keyClick(edit, Qt::Key_F3);
        QCOMPARE(view.selectedText(), QStringLiteral("NEEDLE"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(view.selectedText(), QStringLiteral("needle"));
        QTest::keyClick(edit, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(view.selectedText(), QStringLiteral("NEEDLE"));
        QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(view.selectedText(), QStringLiteral("needle"));

        child<QCheckBox>(view, "findCaseSwitch")->setChecked(true);
        QTest::mouseClick(child<QPushButton>(view, "findNextButton"), Qt::LeftButton);
        QCOMPARE(view.selectedText(), QStringLiteral("needle")); // the only one in lower case
        QVERIFY(child<QLabel>(view, "findNotFoundLabel")->isHidden());
        edit->setText(QStringLiteral("haystack"));
        QTest::mouseClick(child<QPushButton>(view, "findPreviousButton"), Qt::LeftButton);
        QVERIFY(child<QLabel>(view, "findNotFoundLabel")->isVisible());
        QCOMPARE(child<QLabel>(view, "findNotFoundLabel")->text(), QStringLiteral("未找到"));
        QVERIFY(!showsColour(view, matchColour));

        edit->setText(QStringLiteral("two"));
        QVERIFY(child<QLabel>(view, "findNotFoundLabel")->isHidden());
        QVERIFY(showsColour(view, matchColour));
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(bar->isHidden());
        QVERIFY(!showsColour(view, matchColour));
        QCOMPARE(view.geometry(), before);
    }

    // Assistive technologies read the log as read-only text named by its
    // box, and hear of a flood of new lines in a few changes, not in one
    // for every entry.
    void logIsReadByAssistiveTechnologiesAndAFloodIsToldInBatches()
    {
        QGroupBox box(QStringLiteral("数据接收及提示窗口"));
        auto *view = new LogView(&box);
        (new QVBoxLayout(&box))->addWidget(view);
        box.resize(400, 200);
        box.show();
        view->appendEntries(lineEntries({QStringLiteral("one"), QStringLiteral("two")}));

        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(view);
        QVERIFY(face);
        QCOMPARE(face->role(), QAccessible::EditableText);
        QVERIFY(face->state().readOnly);
        QVERIFY(face->state().multiLine);
        QCOMPARE(face->text(QAccessible::Name), box.title());
        QAccessibleTextInterface *text = face->textInterface();
        QVERIFY(text);
        QCOMPARE(text->text(0, text->characterCount()), QStringLiteral("one\ntwo"));
        int lineStart = -1;
        int lineEnd = -1;
        QCOMPARE(
            text->textAtOffset(5, QAccessible::LineBoundary, &lineStart, &lineEnd), QStringLiteral("two"));
        QCOMPARE(lineStart, 4);

        toldAbout.clear();
        toldTexts.clear();
        SetLogChangeSink(&recordTextChange);
        const int flood = 2000;
        for (int i = 0; i < flood; ++i) {
            view->appendEntries(lineEntries({QStringLiteral("line %1").arg(i)}));
            QCoreApplication::processEvents();
        }
        QTRY_VERIFY(!toldTexts.isEmpty() && toldTexts.last().endsWith(QStringLiteral("\nline 1999")));
        // Changes are told at most twice a second: a flood of entries would
        // have to take minutes to be told a hundred times.
        QVERIFY2(toldTexts.size() < flood / 20, qPrintable(QString::number(toldTexts.size())));
        // The newest lines, not the whole log.
        QVERIFY(text->text(0, text->characterCount()).startsWith(QStringLiteral("line 1900\n")));
        QVERIFY(std::all_of(toldAbout.begin(), toldAbout.end(), [&](QObject *told) { return told == view; }));
        SetLogChangeSink(nullptr);
    }

    // One pass over a full log: the only match, at the far end, is found
    // from the top, found again by wrapping, and brought into view.
    void findCoversAFullLogAndScrollsTheMatchIntoView()
    {
        LogView view;
        view.resize(400, 200);
        view.show();
        QStringList entries;
        for (int i = 0; i < LogLimits::MaxEntries; ++i)
            entries << QStringLiteral("line %1 of the log").arg(i);
        const int middle = LogLimits::MaxEntries / 2;
        entries[middle] = QStringLiteral("a needle in the middle");
        entries.back() = QStringLiteral("the last needle");
        view.appendEntries(lineEntries(entries));
        QCOMPARE(view.entryCount(), LogLimits::MaxEntries);

        view.selectAll();
        QVERIFY(view.find(QStringLiteral("LAST NEEDLE"), Qt::CaseInsensitive, false)); // from the end: wraps
        QCOMPARE(view.selectedText(), QStringLiteral("last needle"));
        QVERIFY(view.find(QStringLiteral("last needle"), Qt::CaseSensitive, false)); // the only one
        QCOMPARE(view.selectedText(), QStringLiteral("last needle"));
        QVERIFY(view.find(QStringLiteral("last needle"), Qt::CaseSensitive, true));
        QCOMPARE(view.selectedText(), QStringLiteral("last needle"));

        QVERIFY(view.find(QStringLiteral("needle in"), Qt::CaseSensitive, true));
        QCOMPARE(view.selectedText(), QStringLiteral("needle in"));
        QScrollBar *bar = view.verticalScrollBar();
        QVERIFY2(
            bar->value() <= middle && bar->value() > middle - 50, qPrintable(QString::number(bar->value())));
        view.viewport()->repaint();
        QVERIFY(!view.find(QStringLiteral("haystack"), Qt::CaseInsensitive, false));
    }
};

QTEST_MAIN(TstLogView)
#include "tst_logview.moc"
