#pragma once
// The root exception class and the guard that keeps exceptions out of Qt's
// event loop. Qt Core only; callable from the UI thread (the reporter is
// installed once at start-up, before any event is delivered).

#include <QByteArray>
#include <QString>

#include <exception>
#include <functional>
#include <utility>

// Root of every exception the program raises (SocketError, UdpSocketError,
// SerialPortError, ConversionError derive from it).
class Exception : public std::exception {
public:
    explicit Exception(const QString &message);
    [[nodiscard]] const QString &Message() const noexcept { return message_; }
    [[nodiscard]] const char *what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

// The text an exception shows in the application's standard error box.
[[nodiscard]] QString ExceptionMessage(const std::exception &e);

using ExceptionReporter = std::function<void(const std::exception &)>;

// Installs the function that reports an exception which reached an entry
// point (the UI installs ShowException). Returns the previous reporter.
ExceptionReporter SetExceptionReporter(ExceptionReporter reporter);
void ReportException(const std::exception &e);

// Runs f; any exception it throws is reported and swallowed, so it never
// crosses Qt's event loop. Wrap every slot, notifier callback, timer tick and
// queued call in it.
template <typename F> void Guarded(F &&f) noexcept
{
    try {
        std::forward<F>(f)();
    } catch (const std::exception &e) {
        ReportException(e);
    } catch (...) {
        ReportException(Exception(QStringLiteral("Unknown exception")));
    }
}
