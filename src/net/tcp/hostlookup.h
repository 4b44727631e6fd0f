#pragma once
// Host and service lookups for the TCP components, run on a worker thread so
// the UI thread never waits on a resolver.
//
// Ownership and threading: a HostLookup is shared between the object that
// started it (UI thread) and its worker thread. The worker only touches the
// shared state under its mutex; the result reaches the receiver as a queued
// call on the receiver's thread, and never after cancel() has returned.

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

struct LookupResult {
    int errorCode = 0; // 0, an errno value, or a negative getaddrinfo code
    std::uint32_t address = 0; // network byte order
    std::uint16_t port = 0; // network byte order
};

class HostLookup {
public:
    using Completion = std::function<void(const LookupResult &)>;

    // Resolve a host name (or dotted address) to its first IPv4 address.
    // Throws std::system_error when no worker thread can be started.
    static std::shared_ptr<HostLookup> startHost(QObject *receiver, const QString &host, Completion done);
    // Resolve a service name for protocol "tcp" to its port.
    static std::shared_ptr<HostLookup> startService(
        QObject *receiver, const QString &service, Completion done);

    // After this returns the completion is never called.
    void cancel();

private:
    HostLookup(QObject *receiver, Completion done);
    static std::shared_ptr<HostLookup> start(
        QObject *receiver, Completion done, std::function<LookupResult()> job);
    void deliver(const LookupResult &result);

    std::mutex mutex_;
    QObject *receiver_; // null once cancelled
    Completion done_;
};

// The text for a lookup or socket error code: strerror for errno values,
// gai_strerror for the resolver's own negative codes.
[[nodiscard]] QString SocketErrorText(int code);
