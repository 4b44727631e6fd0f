// The linear plain-text box: editing with keys and mouse, the clipboard,
// undo, and text handed back the way a QPlainTextEdit hands it back.

#include "ui/plaintextbox.h"

#include <QAccessible>
#include <QClipboard>
#include <QScrollBar>
#include <QtTest>

namespace {

// The middle of the character boundary after `before` on the given line,
// with the box scrolled to its start.
QPoint pointAfter(PlainTextBox &box, int line, const QString &before)
{
    const int margin = 4;
    const QFontMetrics metrics = box.fontMetrics();
    int x = margin;
    for (const QChar c : before)
        x += metrics.horizontalAdvance(c);
    return {x, margin + line * metrics.lineSpacing() + metrics.lineSpacing() / 2};
}

} // namespace

class TstPlainTextBox : public QObject {
    Q_OBJECT

private slots:
    void textComesBackAsAPlainTextEditGivesIt_data()
    {
        QTest::addColumn<QString>("inserted");
        QTest::addColumn<QString>("plain");
        QTest::newRow("plain") << "ab c"
                               << "ab c";
        QTest::newRow("crlf") << "a\r\nb"
                              << "a\nb";
        QTest::newRow("lone cr") << "a\rb\r"
                                 << "a\nb\n";
        QTest::newRow("unicode separators") << QStringLiteral("a\u2028b\u2029c") << "a\nb\nc";
        QTest::newRow("no-break space") << QStringLiteral("a\u00a0b") << "a b";
        QTest::newRow("tab and zero")
            << QStringLiteral("a\tb") + QChar(0) << QStringLiteral("a\tb") + QChar(0);
    }
    void textComesBackAsAPlainTextEditGivesIt()
    {
        QFETCH(QString, inserted);
        QFETCH(QString, plain);
        PlainTextBox box;
        box.insertPlainText(inserted);
        QCOMPARE(box.toPlainText(), plain);
        box.setPlainText(inserted);
        QCOMPARE(box.toPlainText(), plain);
        QCOMPARE(box.lineCount(), int(plain.count(QLatin1Char('\n'))) + 1);
    }

    void keysTypeMoveSelectAndDelete()
    {
        PlainTextBox box;
        box.resize(300, 200);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.setFocus();
        QTest::keyClicks(&box, QStringLiteral("hello"));
        QTest::keyClick(&box, Qt::Key_Return);
        QTest::keyClicks(&box, QStringLiteral("w\tx"));
        QCOMPARE(box.toPlainText(), QStringLiteral("hello\nw\tx"));
        QCOMPARE(box.lineCount(), 2);

        // Up keeps the column; Shift+End selects to the line's end.
        QTest::keyClick(&box, Qt::Key_Home);
        QTest::keyClick(&box, Qt::Key_Right);
        QTest::keyClick(&box, Qt::Key_Up);
        QCOMPARE(box.cursorPosition(), 1);
        QTest::keyClick(&box, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(box.selectedText(), QStringLiteral("ello"));
        QTest::keyClick(&box, Qt::Key_Delete);
        QCOMPARE(box.toPlainText(), QStringLiteral("h\nw\tx"));
        QTest::keyClick(&box, Qt::Key_Delete); // the line break
        QCOMPARE(box.toPlainText(), QStringLiteral("hw\tx"));
        QTest::keyClick(&box, Qt::Key_Backspace);
        QCOMPARE(box.toPlainText(), QStringLiteral("w\tx"));

        // Undo takes back one step at a time, typing as one; redo repeats.
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(box.toPlainText(), QStringLiteral("hw\tx"));
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(box.toPlainText(), QStringLiteral("hello\nw\tx"));
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(box.toPlainText(), QStringLiteral("h\nw\tx"));

        // A surrogate pair is one character to the keys.
        box.setPlainText(QStringLiteral("a\U0001F600b"));
        QTest::keyClick(&box, Qt::Key_End);
        QTest::keyClick(&box, Qt::Key_Left);
        QTest::keyClick(&box, Qt::Key_Backspace);
        QCOMPARE(box.toPlainText(), QStringLiteral("ab"));
    }

    void mouseSelectsAndClipboardCarriesText()
    {
        PlainTextBox box;
        box.resize(300, 200);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.setPlainText(QStringLiteral("alpha beta\ngamma"));
        QWidget *surface = box.viewport();
        QTest::mousePress(surface, Qt::LeftButton, {}, pointAfter(box, 0, QStringLiteral("alp")));
        QTest::mouseMove(surface, pointAfter(box, 1, QStringLiteral("ga")));
        QTest::mouseRelease(surface, Qt::LeftButton, {}, pointAfter(box, 1, QStringLiteral("ga")));
        QCOMPARE(box.selectedText(), QStringLiteral("ha beta\nga"));
        QTest::mouseDClick(surface, Qt::LeftButton, {}, pointAfter(box, 0, QStringLiteral("alpha b")));
        QCOMPARE(box.selectedText(), QStringLiteral("beta"));

        QClipboard *clipboard = QApplication::clipboard();
        QTest::keyClick(&box, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("beta"));
        QCOMPARE(box.toPlainText(), QStringLiteral("alpha \ngamma"));
        QTest::keyClick(&box, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box.toPlainText(), QStringLiteral("alpha \ngammabeta"));

        // The selection is painted in the highlight colour.
        QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
        const QImage shot = surface->grab().toImage();
        const QPoint inside = pointAfter(box, 1, QStringLiteral("g"));
        const int rowTop = inside.y() - box.fontMetrics().lineSpacing() / 2;
        QCOMPARE(
            shot.pixelColor(inside.x(), rowTop + 1).rgb(), box.palette().color(QPalette::Highlight).rgb());
    }

    void appendingAddsALineAndLeavesTheCursor()
    {
        PlainTextBox box;
        box.appendPlainText(QStringLiteral("first"));
        QCOMPARE(box.toPlainText(), QStringLiteral("first"));
        QCOMPARE(box.cursorPosition(), 0);
        box.appendPlainText(QStringLiteral("second"));
        QCOMPARE(box.toPlainText(), QStringLiteral("first\nsecond"));
        QCOMPARE(box.cursorPosition(), 0);
        box.clear();
        QVERIFY(box.toPlainText().isEmpty());
        QCOMPARE(box.lineCount(), 1);
    }

    // Assistive technologies read the box as an editable text: its text by
    // character, word and line, its caret and selection, and they edit it.
    void assistiveTechnologiesReadAndEditTheText()
    {
        PlainTextBox box;
        box.setPlainText(QStringLiteral("ab cd\nsecond line\nlast"));
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&box);
        QVERIFY(accessible);
        QCOMPARE(accessible->role(), QAccessible::EditableText);
        QVERIFY(accessible->state().editable && accessible->state().multiLine);
        QAccessibleTextInterface *text = accessible->textInterface();
        QVERIFY(text);
        QCOMPARE(text->characterCount(), 22);
        QCOMPARE(text->text(0, 22), box.toPlainText());
        QCOMPARE(text->text(3, 5), QStringLiteral("cd"));

        int start = -1;
        int end = -1;
        QCOMPARE(text->textAtOffset(4, QAccessible::WordBoundary, &start, &end), QStringLiteral("cd"));
        QCOMPARE(start, 3);
        QCOMPARE(end, 5);
        QCOMPARE(text->textAtOffset(1, QAccessible::CharBoundary, &start, &end), QStringLiteral("b"));
        QCOMPARE(
            text->textAtOffset(8, QAccessible::LineBoundary, &start, &end), QStringLiteral("second line\n"));
        QCOMPARE(start, 6);
        QCOMPARE(end, 18);
        QCOMPARE(
            text->textBeforeOffset(8, QAccessible::LineBoundary, &start, &end), QStringLiteral("ab cd\n"));
        QCOMPARE(text->textAfterOffset(8, QAccessible::LineBoundary, &start, &end), QStringLiteral("last"));
        QCOMPARE(text->textAfterOffset(20, QAccessible::LineBoundary, &start, &end), QString());
        QCOMPARE(text->textBeforeOffset(3, QAccessible::WordBoundary, &start, &end), QStringLiteral(" "));
        QCOMPARE(text->textAfterOffset(0, QAccessible::WordBoundary, &start, &end), QStringLiteral(" "));

        text->setCursorPosition(9);
        QCOMPARE(box.cursorPosition(), 9);
        QCOMPARE(text->cursorPosition(), 9);
        QCOMPARE(text->selectionCount(), 0);
        text->setSelection(0, 1, 4);
        QCOMPARE(box.selectedText(), QStringLiteral("b c"));
        QCOMPARE(text->selectionCount(), 1);
        text->selection(0, &start, &end);
        QCOMPARE(start, 1);
        QCOMPARE(end, 4);
        text->removeSelection(0);
        QVERIFY(!box.hasSelection());

        QAccessibleEditableTextInterface *editable = accessible->editableTextInterface();
        QVERIFY(editable);
        editable->insertText(0, QStringLiteral("X"));
        editable->deleteText(3, 4);
        editable->replaceText(0, 1, QStringLiteral("Y"));
        QCOMPARE(box.toPlainText(), QStringLiteral("Yabcd\nsecond line\nlast"));
        box.undo();
        QCOMPARE(box.toPlainText(), QStringLiteral("Xabcd\nsecond line\nlast"));
    }

    // The view scrolls to the caret and back, sideways along a long line.
    void longLineScrollsSidewaysToTheCaret()
    {
        PlainTextBox box;
        box.resize(200, 100);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.setFocus();
        box.insertPlainText(QString(100'000, QLatin1Char('7')));
        QScrollBar *sideways = box.horizontalScrollBar();
        QCOMPARE(sideways->value(), sideways->maximum());
        QTest::keyClick(&box, Qt::Key_Home);
        QCOMPARE(sideways->value(), 0);
        QCOMPARE(box.cursorPosition(), 0);
    }
};

QTEST_MAIN(TstPlainTextBox)
#include "tst_plaintextbox.moc"
