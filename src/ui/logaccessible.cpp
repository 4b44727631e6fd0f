#include "ui/logaccessible.h"

#include "core/errors.h"
#include "ui/logview.h"

#include <QGroupBox>

#include <algorithm>

namespace {

LogChangeSink &changeSink()
{
    static LogChangeSink sink = nullptr;
    return sink;
}

QAccessibleInterface *makeLogAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String(LogView::staticMetaObject.className()))
        return nullptr;
    auto *view = qobject_cast<LogView *>(object);
    return view ? new LogAccessible(view) : nullptr;
}

} // namespace

void InstallLogAccessible()
{
    static const bool installed = [] {
        QAccessible::installFactory(&makeLogAccessible);
        return true;
    }();
    (void)installed;
}

void SetLogChangeSink(LogChangeSink sink)
{
    changeSink() = sink;
}

LogAccessible::LogAccessible(LogView *view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{
}

LogView *LogAccessible::view() const
{
    return static_cast<LogView *>(widget());
}

QString LogAccessible::shownText() const
{
    return view()->lastLines(LogAccessibility::ShownEntries, LogAccessibility::ShownChars);
}

void *LogAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State LogAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.multiLine = true;
    return state;
}

QString LogAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return shownText();
    if (type == QAccessible::Name && view()->accessibleName().isEmpty()) {
        // The box around the log says what it is, as a sighted user reads it.
        for (QWidget *up = view()->parentWidget(); up; up = up->parentWidget()) {
            if (const auto *box = qobject_cast<const QGroupBox *>(up))
                return box->title();
        }
    }
    return QAccessibleWidget::text(type);
}

QString LogAccessible::text(int startOffset, int endOffset) const
{
    const QString shown = shownText();
    const qsizetype start = std::clamp<qsizetype>(startOffset, 0, shown.size());
    const qsizetype end
        = endOffset < 0 ? shown.size() : std::clamp<qsizetype>(endOffset, start, shown.size());
    return shown.mid(start, end - start);
}

int LogAccessible::characterCount() const
{
    return int(shownText().size());
}

void LogAccessible::selection(int, int *startOffset, int *endOffset) const
{
    *startOffset = 0;
    *endOffset = 0;
}

int LogAccessible::selectionCount() const
{
    return 0;
}

void LogAccessible::addSelection(int, int) { }

void LogAccessible::removeSelection(int) { }

void LogAccessible::setSelection(int, int, int) { }

int LogAccessible::cursorPosition() const
{
    return characterCount();
}

void LogAccessible::setCursorPosition(int) { }

QRect LogAccessible::characterRect(int) const
{
    return {};
}

int LogAccessible::offsetAtPoint(const QPoint &) const
{
    return -1;
}

void LogAccessible::scrollToSubstring(int, int) { }

QString LogAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    // One run of plain text, without attributes.
    *startOffset = 0;
    *endOffset = std::max(offset, characterCount());
    return {};
}

LogAnnouncer::LogAnnouncer(LogView *view)
    : QObject(view)
    , view_(view)
{
    timer_.setSingleShot(true);
    timer_.setInterval(LogAccessibility::AnnounceMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Guarded([this] { announce(); }); });
}

bool LogAnnouncer::isHeard()
{
    return changeSink() || QAccessible::isActive();
}

void LogAnnouncer::changed()
{
    if (isHeard() && !timer_.isActive())
        timer_.start();
}

void LogAnnouncer::announce()
{
    if (!isHeard())
        return;
    const QString shown = view_->lastLines(LogAccessibility::ShownEntries, LogAccessibility::ShownChars);
    if (shown == announced_)
        return;
    QAccessibleTextUpdateEvent event(view_, 0, announced_, shown);
    if (LogChangeSink sink = changeSink())
        sink(event);
    else
        QAccessible::updateAccessibility(&event);
    announced_ = shown;
}
