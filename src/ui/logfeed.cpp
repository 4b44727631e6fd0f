#include "ui/logfeed.h"

#include "core/errors.h"
#include "core/fileappender.h"
#include "ui/logview.h"

#include <memory>
#include <utility>

LogFeed::LogFeed(QObject *parent)
    : QObject(parent)
{
    timer_.setSingleShot(true);
    timer_.setInterval(LogLimits::BatchMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Guarded([this] { flush(); }); });
}

void LogFeed::setView(LogView *view)
{
    view_ = view;
    flush();
}

void LogFeed::append(const QString &line)
{
    if (appender_)
        appender_->append(line.toUtf8() + '\n');
    pending_ << line;
    pendingChars_ += line.size();
    if (!view_) {
        // Nothing to hand over to: keep what the view would keep.
        if (pending_.size() > LogLimits::MaxEntries || pendingChars_ > LogLimits::MaxChars)
            trimPending();
        return;
    }
    // A flood hands its text over early rather than holding a second copy of
    // the whole log in the queue.
    if (pendingChars_ > LogLimits::MaxChars / 8) {
        flush();
        return;
    }
    if (pending_.size() > LogLimits::MaxEntries)
        trimPending();
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
    qsizetype drop = 0;
    while (pending_.size() - drop > LogLimits::MaxEntries
        || (pendingChars_ > LogLimits::MaxChars && pending_.size() - drop > 1)) {
        pendingChars_ -= pending_[drop].size();
        ++drop;
    }
    pending_.erase(pending_.begin(), pending_.begin() + drop);
}

void LogFeed::flush()
{
    timer_.stop();
    if (touched_) {
        touched_ = false;
        emit flushed();
    }
    if (pending_.isEmpty() || !view_)
        return;
    view_->appendEntries(pending_);
    pending_.clear();
    pendingChars_ = 0;
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
