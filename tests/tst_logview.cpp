// The log view: selecting and copying its text, keeping the selection on its
// entries while they come and go, wrapping long entries once; and the feed
// that hands it lines in batches.

#include "ui/logfeed.h"
#include "ui/logview.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QtTest>

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

} // namespace

class TstLogView : public QObject {
    Q_OBJECT

private slots:
    void logTextIsSelectedWithTheMouseAndCopied()
    {
        LogView view;
        view.resize(400, 200);
        view.show();
        view.appendEntries({QStringLiteral("alpha beta"), QStringLiteral("gamma"), QStringLiteral("delta")});
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
        view.appendEntries({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, logPoint(view, 1, QStringLiteral("t")));
        QCOMPARE(view.selectedText(), QStringLiteral("two"));

        view.appendEntries({QStringLiteral("four")}); // "one" goes; the rows shift
        QCOMPARE(view.selectedText(), QStringLiteral("two"));
        view.appendEntries({QStringLiteral("five")}); // so does the selected entry
        QVERIFY(!view.hasSelection());

        QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        view.appendEntries({QStringLiteral("six")}); // a selection losing its head keeps its tail
        QCOMPARE(view.selectedText(), QStringLiteral("four\nfive"));
        view.clear();
        QVERIFY(!view.hasSelection());
        view.appendEntries({QStringLiteral("seven")});
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
        view.appendEntries({QStringLiteral("before"), entry});
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

        feed->append(QStringLiteral("one"));
        feed->flush();
        QCOMPARE(view.entryCount(), 1);
        QVERIFY(entriesAtSignal.isEmpty()); // nothing touched

        feed->touch();
        feed->touch();
        feed->append(QStringLiteral("two"));
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
            feed.append(QString::number(i));
        feed.touch();
        QTRY_COMPARE(flushes, 1); // counters are told without a view too

        LogView view;
        feed.setView(&view);
        QCOMPARE(view.entryCount(), LogLimits::MaxEntries);
        const QStringList shown = view.toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(shown.size(), LogLimits::MaxEntries);
        QCOMPARE(shown.front(), QString::number(extra));
        QCOMPARE(shown.back(), QString::number(LogLimits::MaxEntries + extra - 1));

        feed.append(QStringLiteral("after"));
        feed.flush();
        QVERIFY(view.toPlainText().endsWith(QStringLiteral("\nafter")));
    }
};

QTEST_MAIN(TstLogView)
#include "tst_logview.moc"
