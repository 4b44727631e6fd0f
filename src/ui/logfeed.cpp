#include "ui/logfeed.h"

#include "core/errors.h"
#include "core/fileappender.h"
#include "ui/logview.h"

#include <iterator>
#include <memory>
#include <utility>
#include <vector>

qsizetype keptBytes(const LogEntry &entry)
{
    return entry.data.size() + 2 * (entry.text.size() + entry.repeatCount.size());
}

QString entryOwnText(const LogEntry &entry, bool)
{
    return entry.text;
}

LogFeed::LogFeed(QObject *parent)
    : QObject(parent)
    , entryText_(&entryOwnText)
{
    timer_.setSingleShot(true);
    timer_.setInterval(LogLimits::BatchMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Guarded([this] { flush(); }); });
}

void LogFeed::setView(LogView *view)
{
    if (view_)
        disconnect(view_, &LogView::cleared, this, nullptr);
    view_ = view;
    if (view_) {
        view_->setEntryText(entryText_);
        connect(view_, &LogView::cleared, this, [this] { accountKept(); });
    }
    flush();
    accountKept();
}

void LogFeed::setBudget(const std::shared_ptr<LogBudget> &budget)
{
    account_.reset();
    if (!budget)
        return;
    account_ = budget->open([this](qint64 bytes, bool keepNewest) { giveUpOldest(bytes, keepNewest); });
    account_->setInFront(inFront_);
    accountKept();
}

void LogFeed::setInFront(bool inFront)
{
    inFront_ = inFront;
    if (account_)
        account_->setInFront(inFront);
}

void LogFeed::accountKept()
{
    if (account_)
        account_->keep(pendingBytes_ + (view_ ? view_->keptBytesCount() : 0));
}

void LogFeed::giveUpOldest(qint64 bytes, bool keepNewest)
{
    // The view holds the older entries; what waits here is newer.
    qint64 dropped = view_ ? view_->dropOldest(bytes, keepNewest && pending_.empty()) : 0;
    while (dropped < bytes && !pending_.empty() && !(keepNewest && pending_.size() == 1)) {
        const qsizetype size = keptBytes(pending_.front());
        dropped += size;
        pendingBytes_ -= size;
        pending_.pop_front();
    }
    accountKept();
}

void LogFeed::setEntryText(LogEntryText entryText)
{
    entryText_ = entryText;
    if (view_)
        view_->setEntryText(entryText_);
}

void LogFeed::setCaps(int maxEntries, qsizetype maxBytes)
{
    maxEntries_ = maxEntries;
    maxBytes_ = maxBytes;
    trimPending();
    accountKept();
}

void LogFeed::append(LogEntry entry)
{
    if (appender_) {
        QByteArray line = entryText_(entry, entry.milliseconds).toUtf8();
        line += '\n';
        appender_->append(line);
    }
    // A piece read into a buffer grown for more than it holds would keep the
    // rest as long as the log keeps it: what is kept is made to measure.
    if (entry.data.capacity() - entry.data.size() > entry.data.size() / 8)
        entry.data.squeeze();
    pendingBytes_ += keptBytes(entry);
    pending_.push_back(std::move(entry));
    if (!view_) {
        // Nothing to hand over to: keep what the view would keep.
        if (qsizetype(pending_.size()) > maxEntries_ || pendingBytes_ > maxBytes_)
            trimPending();
        accountKept();
        return;
    }
    // A flood hands its bytes over early, for the view to drop its oldest,
    // rather than holding much more than the log keeps.
    if (pendingBytes_ > maxBytes_ / 32) {
        flush();
        return;
    }
    if (qsizetype(pending_.size()) > maxEntries_)
        trimPending();
    accountKept();
    schedule();
}

void LogFeed::touch()
{
    touched_ = true;
    schedule();
}

void LogFeed::schedule()
{
    if (!timer_.isActive())
        timer_.start();
}

void LogFeed::trimPending()
{
    // Whatever the view would drop at once need not reach it.
    while (qsizetype(pending_.size()) > maxEntries_ || (pendingBytes_ > maxBytes_ && pending_.size() > 1)) {
        pendingBytes_ -= keptBytes(pending_.front());
        pending_.pop_front();
    }
}

void LogFeed::flush()
{
    timer_.stop();
    if (touched_) {
        touched_ = false;
        emit flushed();
    }
    if (pending_.empty() || !view_)
        return;
    std::vector<LogEntry> batch(
        std::make_move_iterator(pending_.begin()), std::make_move_iterator(pending_.end()));
    pending_.clear();
    pendingBytes_ = 0;
    view_->appendEntries(std::move(batch));
    accountKept();
}

QString LogFeed::startRecording(const QString &path)
{
    stopRecording();
    auto *appender = new FileAppender(this);
    const QString error = appender->open(path);
    if (!error.isEmpty()) {
        delete appender;
        return error;
    }
    connect(appender, &FileAppender::failed, this,
        [this](const QString &error) { Guarded([this, error] { onRecordingFailed(error); }); });
    appender_ = appender;
    return {};
}

void LogFeed::stopRecording()
{
    if (!appender_)
        return;
    const std::unique_ptr<FileAppender> appender(std::exchange(appender_, nullptr));
    if (const qint64 unwritten = appender->stop(); unwritten > 0)
        emit recordingAbandoned(appender->path(), unwritten);
}

QString LogFeed::recordingPath() const
{
    return appender_ ? appender_->path() : QString();
}

void LogFeed::onRecordingFailed(const QString &error)
{
    // Called from the appender's own signal: it is closed now, and deleted
    // once control is back in the event loop.
    const QString path = appender_->path();
    appender_->deleteLater();
    appender_ = nullptr;
    emit recordingFailed(path, error);
}
