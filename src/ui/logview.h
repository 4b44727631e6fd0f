#pragma once
// The log view of a data window: keeps the newest log entries within a count
// and a size cap and paints only what is on screen. A general text editor lays
// out and shapes every character it is given, which holds a busy window to a
// few megabytes a second; here appending costs a copy, and wrapping is worked
// out for the entries in view only, with cached character widths; a long
// entry's rows are kept, so a multi-megabyte entry is wrapped once per width
// rather than at every paint. Long rows wrap at the view's width wherever
// they reach it.
//
// The view keeps entries as the engine logged them (their bytes, time, kind,
// and the hex and milliseconds switches as they were), not their text: a
// piece in hex mode makes three characters and more a byte, and most of a
// flood is never looked at. An entry's line is made, by the owner's entry
// text function, only when it is painted, selected, copied, found or saved,
// always the same for the same entry; the lines of the entries last shown
// are kept, within a bound, and lines made for a search or a save are not.
// The size cap counts the bytes kept, so hex mode keeps as much as text mode.
//
// The scroll bar counts entries. At its end the view follows the newest
// entry; scrolled back, it stays where the user put it. Text is selected with
// the mouse (a double click takes the whole entry) or Ctrl+A; Ctrl+C copies
// the selection, or the whole log when nothing is selected. The selection is
// held by entry, so it stays on its text while new entries arrive, and
// shrinks as its oldest entries are dropped. Copy and clear are also on the
// context menu.
//
// The menu also saves the log to a file, asks for the file to record to (the
// owner records; the view shows whether it does), toggles milliseconds in the
// time of new entries (the owner keeps that), and opens a find bar over the
// view's top right corner (Ctrl+F) that selects one match at a time and
// highlights every match on screen. The view owns the bar.
//
// Assistive technologies read the newest lines, and are told of new ones in
// batches while they listen (ui/logaccessible). UI thread only.

#include "ui/logfeed.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>
#include <vector>

class LogAnnouncer;
class LogFindBar;
class QPainter;

class LogView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit LogView(QWidget *parent = nullptr);

    // How an entry's line is made (it may hold line breaks); without one, an
    // entry's line is its text.
    void setEntryText(LogEntryText entryText);
    // Appends entries and drops the oldest ones beyond the caps.
    void appendEntries(std::vector<LogEntry> entries);
    void clear();
    // Drops the oldest entries, at least `bytes` of what they count against
    // the size cap where the view keeps that many, the newest one kept when
    // asked; returns what they counted.
    qsizetype dropOldest(qsizetype bytes, bool keepNewest);

    [[nodiscard]] QString toPlainText() const;
    // The lines of the newest entries, at most maxEntries of them and
    // maxChars characters (the end of the newest line when it alone is
    // longer).
    [[nodiscard]] QString lastLines(int maxEntries, qsizetype maxChars) const;
    [[nodiscard]] bool hasSelection() const { return anchor_ != cursor_; }
    [[nodiscard]] QString selectedText() const;
    void selectAll();
    [[nodiscard]] int entryCount() const { return int(entries_.size()); }
    // What the entries kept count against the size cap (keptBytes).
    [[nodiscard]] qsizetype keptBytesCount() const { return bytes_; }

    void setCaps(int maxEntries, qsizetype maxBytes);

    // What the names of saved and recorded logs start with; characters not
    // allowed in a file name become "_".
    void setFileNameBase(const QString &base);
    // <folder last chosen or home>/<base>_<yyyyMMdd-hhmmss>.log
    [[nodiscard]] QString suggestedFilePath() const;
    // Whether the menu offers to stop recording rather than start it.
    void setRecordingShown(bool recording);
    [[nodiscard]] bool isRecordingShown() const { return recordingShown_; }
    [[nodiscard]] bool showsMilliseconds() const { return millisecondsShown_; }
    // What the menu's milliseconds switch shows, when the owner set it (a
    // setup opened from a file); the switch tells only the user's toggles.
    void setMillisecondsShown(bool on) { millisecondsShown_ = on; }

    // Selects the next (or previous) match after (before) the selection,
    // wrapping around the log, and scrolls it into view; false when the log
    // holds none.
    bool find(const QString &text, Qt::CaseSensitivity cs, bool backwards);
    // Every match of text on screen is painted in the match colour; an empty
    // text paints none.
    void highlightMatches(const QString &text, Qt::CaseSensitivity cs);
    void openFindBar();

signals:
    // The user chose a file to record the log to, or asked to stop.
    void recordingRequested(const QString &path);
    void stopRecordingRequested();
    void millisecondsToggled(bool on);
    // The user emptied the log.
    void cleared();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    struct Row {
        qsizetype start;
        qsizetype length;
    };
    // A place in the text: the entry by its number since the view was made
    // (so that it survives dropping the oldest entries), and a character
    // offset inside it.
    struct TextPos {
        qint64 entry = 0;
        qsizetype offset = 0;
        auto operator<=>(const TextPos &) const = default;
    };
    struct ScreenRow {
        size_t index; // into entries_
        QString line; // the entry's, shared by its rows
        Row row;
        int top;
    };

    using Rows = std::shared_ptr<const std::vector<Row>>;
    // A long entry's rows, kept so that painting, scrolling and selecting do
    // not wrap a multi-megabyte entry again each time.
    struct WrappedEntry {
        qint64 entry;
        int width;
        Rows rows;
    };
    // The line of an entry shown lately.
    struct MadeLine {
        qint64 entry;
        QString line;
    };

    // Between the view's edges and its text, in pixels.
    static constexpr int Margin = 4;

    // The line of entries_[index]: kept for the entries last shown.
    [[nodiscard]] QString lineOf(size_t index) const;
    // The same made anew and not kept (a search, a save).
    [[nodiscard]] QString makeLine(size_t index) const;
    void forgetDroppedLines();
    // Where the rows of one entry start and end at the given width.
    [[nodiscard]] std::vector<Row> wrap(const QString &text, int width) const;
    // The rows of entries_[index], whose line that is: long entries from the
    // cache.
    [[nodiscard]] Rows rowsOf(size_t index, const QString &line, int width) const;
    void forgetDroppedWraps();
    void dropBeyondCaps();
    // Paints new entries, no sooner than a batch's time after the last paint.
    void showNewEntries();
    // Tells assistive technologies, when one listens, that the text changed.
    void announceChange();
    [[nodiscard]] int advance(QChar c) const;
    void updateScrollRange();
    // The rows on screen, top down.
    [[nodiscard]] std::vector<ScreenRow> screenRows() const;
    // The width of that stretch as painting draws it, shaped as a whole.
    [[nodiscard]] int paintedWidth(const QString &text, qsizetype from, qsizetype to) const;

    // The selection and copying (logselection.cpp).
    [[nodiscard]] TextPos positionAt(QPoint point) const;
    void clampSelection();
    void publishSelection() const;
    void copyAll() const;
    void copySelection() const;

    // Saving and recording (logfile.cpp).
    void saveLog();
    void askToRecord();
    [[nodiscard]] QString writeLogFile(const QString &path) const;

    // Finding (logsearch.cpp).
    void findFromBar(bool backwards);
    void selectMatch(size_t index, qsizetype offset, qsizetype length);
    void scrollToEntry(size_t index);
    void paintMatches(QPainter &painter, const ScreenRow &screen) const;

    std::deque<LogEntry> entries_;
    LogEntryText entryText_ = &entryOwnText;
    qsizetype bytes_ = 0;
    int maxEntries_;
    qsizetype maxBytes_;
    bool followTail_ = true;
    qint64 dropped_ = 0; // entries dropped or cleared so far
    TextPos anchor_;
    TextPos cursor_;
    bool selecting_ = false;
    QString fileNameBase_;
    bool recordingShown_ = false;
    bool millisecondsShown_ = false;
    LogFindBar *findBar_ = nullptr; // a child, made when first opened
    LogAnnouncer *announcer_ = nullptr; // a child, made with the first change told
    QString matchText_;
    Qt::CaseSensitivity matchCase_ = Qt::CaseInsensitive;
    QElapsedTimer paintedAt_;
    QTimer paintTimer_; // the paint of entries handed over since
    mutable std::vector<WrappedEntry> wrapped_; // most recently used last
    mutable std::vector<MadeLine> made_; // most recently used last
    mutable qsizetype madeChars_ = 0;
    mutable QHash<char16_t, int> advances_;
    mutable int asciiAdvance_[128];
};
