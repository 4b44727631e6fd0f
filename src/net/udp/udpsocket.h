#pragma once
// UdpSocket: the datagram component behind the "UDP Client" and "UDP Server"
// endpoints. One datagram socket bound to localPort; every datagram that
// arrives is reported by datagramReceived, one emission per datagram, a bounded
// number of datagrams per readiness wake-up; a stream is sent as one datagram
// to remoteHost:remotePort.
//
// Owns its receive buffer and its readiness registration (a child notifier).
// The socket handle is the owner's to close: the owner calls
// dgram::closesocket(socketHandle()) before destroying the component; the
// destructor does not close it.
// UI thread only. A host name is looked up on a worker thread (HostLookup)
// while the datagrams for it wait here, so no send waits on a resolver or
// runs the event loop. It reports through signals, whose receivers run
// before the emitting call goes on (connect directly, never queued);
// receivers must not destroy the component directly (use deleteLater).

#include "core/errors.h"
#include "net/tcp/hostlookup.h"
#include "net/udp/datagramcalls.h"

#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

class QIODevice;

class UdpSocketError : public Exception {
public:
    using Exception::Exception;
};

class UdpSocket : public QObject {
    Q_OBJECT

public:
    // The receive queue asked of the kernel for every socket.
    // Datagrams taken per readiness wake-up at most.
    static constexpr int MaxDatagramsPerWakeup = 32;
    // Handlers' time per wake-up at most before the loop runs again.
    static constexpr int WakeUpBudgetMs = 10;
    static constexpr int ReceiveQueueBytes = 8 * 1024 * 1024;

    // Raises UdpSocketError when no socket can be made.
    explicit UdpSocket(QObject *owner = nullptr);
    ~UdpSocket() override;

    [[nodiscard]] const QString &remoteHost() const { return remoteHost_; }
    void setRemoteHost(const QString &host) { remoteHost_ = host; }
    [[nodiscard]] int remotePort() const { return remotePort_; }
    void setRemotePort(int port) { remotePort_ = port; }
    [[nodiscard]] int localPort() const { return localPort_; }
    // Always makes a new socket (also for the same value) and binds it to the
    // port's low 16 bits on every interface. A port in use leaves the socket
    // unbound, silently. Raises UdpSocketError when no socket can be made.
    void setLocalPort(int port);
    [[nodiscard]] int reportLevel() const { return reportLevel_; }
    void setReportLevel(int level) { reportLevel_ = level; }
    [[nodiscard]] const QString &status() const { return status_; }
    [[nodiscard]] int lastError() const { return lastError_; }
    [[nodiscard]] int socketHandle() const { return socket_; }

    // Writes the last received datagram at the stream's position (nothing
    // after a failed receive), then rewinds the stream.
    void readDatagram(QIODevice &stream);
    // The last received datagram's bytes; none after a failed receive.
    [[nodiscard]] QByteArray lastDatagram() const;
    // What a datagram that waited for its host lookup came to: 0 sent, the
    // platform send's error code, or LookupFailed.
    using SendDone = std::function<void(int result)>;
    // sendDatagram's answer for a datagram that waits for its host lookup.
    static constexpr int SendPending = -1;
    static constexpr int LookupFailed = -2;
    // Datagrams that wait for a lookup at most; past them a send has no room.
    static constexpr size_t MaxWaitingDatagrams = 256;

    // Sends the whole stream as one datagram. Raises "Invalid stream"
    // (Exception) for an empty or unreadable stream, UdpSocketError for one
    // larger than a datagram can carry and for an empty or 0.0.0.0
    // remoteHost ("Null Remote Address"). Returns 0 when the system took the
    // datagram, else the platform send's error code: hasNoRoom() tells one
    // that only means "not now" (the socket's queue is full), and the
    // datagram has not gone out either way. A host name is looked up first:
    // the datagram waits behind the lookup under way (one at a time, later
    // datagrams behind it), SendPending is returned and `done` tells the
    // end. A name that does not resolve (also after a receiver of invalidHost
    // asked to try once more) ends every waiting datagram with LookupFailed
    // and then raises "Host Lookup Canceled" from the event loop.
    [[nodiscard]] int sendDatagram(QIODevice &stream, SendDone done = {});
    // The same for bytes in hand.
    [[nodiscard]] int sendBytes(const QByteArray &bytes, SendDone done = {});
    // Whether a send error only says that the socket has no room now.
    [[nodiscard]] static bool hasNoRoom(int error);

signals:
    // One datagram arrived (numberBytes is recvfrom's result, -1 for a
    // failed receive); readDatagram() gives its bytes while the receivers run.
    void datagramReceived(int numberBytes, const QString &fromIp, int port);
    // A datagram went out.
    void datagramSent();
    // A report at or below reportLevel(); status() holds it as well.
    void statusReported(const QString &status);
    // A host name did not resolve: a receiver that sets handled asks for one
    // more lookup. Direct connections only (the flag is set in place).
    void invalidHost(bool &handled);
    // sendDatagram got an empty stream: a receiver may fill it and set
    // handled. Direct connections only.
    void invalidData(bool &handled, QIODevice &stream);

private:
    void bindAndRegister();
    // False when flags asked not to wait and nothing was waiting: then no
    // event was raised.
    bool receive(int flags);
    void receiveWaiting();
    [[nodiscard]] in_addr_t remoteAddress();
    // Sends bytes that passed the checks on the stream or the bytes.
    [[nodiscard]] int sendChecked(const QByteArray &bytes, SendDone done);
    [[nodiscard]] int sendTo(const QByteArray &bytes, in_addr_t address, int port);
    void lookUp();
    void lookedUp(const LookupResult &result);
    // Ends every waiting datagram with that result.
    void endWaiting(int result);
    void report(int level, const QString &text);
    void checkError();

    // One buffer for the life of the component: large enough for any datagram,
    // so nothing is lost to its size and nothing is allocated per datagram.
    std::unique_ptr<char[]> buffer_;
    int received_ = 0;
    QString remoteHost_;
    int remotePort_ = 0;
    int localPort_ = 0;
    int reportLevel_ = 1;
    QString status_;
    bool initialised_ = false;
    int lastError_ = 0;
    struct WaitingDatagram {
        QByteArray bytes;
        int port = 0;
        SendDone done;
    };
    std::deque<WaitingDatagram> waiting_;
    std::shared_ptr<HostLookup> lookup_;
    QString parsedHost_; // remoteHost_ as remoteAddress() last read it
    in_addr_t parsedAddress_ = INADDR_NONE;
    int lookupFailures_ = 0;
    int socket_ = dgram::InvalidSocket;
    // The sender text of the last datagram, kept while the sender stays the same.
    in_addr_t lastSender_ = 0;
    QString lastSenderText_;
};
