#pragma once
// The log view of a data window: keeps the newest log entries within a count
// and a size cap and paints only what is on screen. A general text editor lays
// out and shapes every character it is given, which holds a busy window to a
// few megabytes a second; here appending costs a copy, and wrapping is worked
// out for the entries in view only, with cached character widths. Long rows
// wrap at the view's width wherever they reach it.
//
// The scroll bar counts entries. At its end the view follows the newest
// entry; scrolled back, it stays where the user put it. Copy and clear are on
// the context menu and on Ctrl+C / Ctrl+A. UI thread only.

#include <QAbstractScrollArea>
#include <QHash>

#include <deque>
#include <vector>

class TLogText : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TLogText(QWidget *parent = nullptr);

    // Appends entries (each may hold line breaks) and drops the oldest ones
    // beyond the caps.
    void appendEntries(const QStringList &entries);
    void clear();

    [[nodiscard]] QString toPlainText() const;
    [[nodiscard]] int entryCount() const { return int(entries_.size()); }
    [[nodiscard]] qsizetype charCount() const { return chars_; }

    void setCaps(int maxEntries, qsizetype maxChars);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Row {
        qsizetype start;
        qsizetype length;
    };

    // Where the rows of one entry start and end at the given width.
    [[nodiscard]] std::vector<Row> wrap(const QString &text, int width) const;
    [[nodiscard]] int advance(QChar c) const;
    void updateScrollRange();
    void copyAll() const;

    std::deque<QString> entries_;
    qsizetype chars_ = 0;
    int maxEntries_;
    qsizetype maxChars_;
    bool followTail_ = true;
    mutable QHash<char16_t, int> advances_;
    mutable int asciiAdvance_[128];
};
