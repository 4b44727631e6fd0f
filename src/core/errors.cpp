#include "core/errors.h"

#include <QDebug>

Exception::Exception(const QString &message)
    : message_(message)
    , utf8_(message.toUtf8())
{
}

namespace {

ExceptionReporter &reporter()
{
    static ExceptionReporter current;
    return current;
}

} // namespace

QString ExceptionMessage(const std::exception &e)
{
    if (const auto *own = dynamic_cast<const Exception *>(&e))
        return own->Message();
    return QString::fromLocal8Bit(e.what());
}

ExceptionReporter SetExceptionReporter(ExceptionReporter next)
{
    return std::exchange(reporter(), std::move(next));
}

void ReportException(const std::exception &e)
{
    if (reporter()) {
        // A reporter that throws must not take the guard down with it.
        try {
            reporter()(e);
        } catch (...) {
            qWarning("exception reporter failed");
        }
        return;
    }
    qWarning().noquote() << "Unhandled exception:" << ExceptionMessage(e);
}
