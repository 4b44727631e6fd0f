#include "datapanel/logview.h"

#include "transport/sysutils.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

TLogView::TLogView(QPlainTextEdit *view)
    : QObject(view)
    , view_(view)
{
    timer_.setSingleShot(true);
    timer_.setInterval(LogLimits::BatchMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Guarded([this] { Flush(); }); });
}

void TLogView::Append(const QString &line)
{
    pending_ << line;
    pendingChars_ += line.size();
    if (pending_.size() > LogLimits::MaxEntries || pendingChars_ > LogLimits::MaxChars)
        trimPending();
    schedule();
}

void TLogView::Touch()
{
    touched_ = true;
    schedule();
}

void TLogView::schedule()
{
    if (!timer_.isActive())
        timer_.start();
}

void TLogView::trimPending()
{
    // Whatever would be cut from the view's top anyway need not reach it.
    qsizetype drop = 0;
    while (pending_.size() - drop > LogLimits::MaxEntries
        || (pendingChars_ > LogLimits::MaxChars && pending_.size() - drop > 1)) {
        pendingChars_ -= pending_[drop].size();
        ++drop;
    }
    pending_.erase(pending_.begin(), pending_.begin() + drop);
}

void TLogView::Flush()
{
    timer_.stop();
    if (touched_) {
        touched_ = false;
        if (update)
            update();
    }
    if (pending_.isEmpty())
        return;

    for (const QString &line : std::as_const(pending_))
        entries_.push_back({line.size(), int(line.count(QLatin1Char('\n'))) + 1});
    viewChars_ += pendingChars_;
    const QString batch = pending_.join(QLatin1Char('\n'));
    pending_.clear();
    pendingChars_ = 0;

    view_->appendPlainText(batch);
    trimView();
    QScrollBar *bar = view_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TLogView::trimView()
{
    int blocks = 0;
    while (entries_.size() > size_t(LogLimits::MaxEntries)
        || (viewChars_ > LogLimits::MaxChars && entries_.size() > 1)) {
        blocks += entries_.front().blocks;
        viewChars_ -= entries_.front().chars;
        entries_.pop_front();
    }
    if (blocks == 0)
        return;
    QTextCursor cursor(view_->document()->firstBlock());
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, blocks);
    cursor.removeSelectedText();
}
