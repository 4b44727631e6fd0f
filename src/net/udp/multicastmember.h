#pragma once
// A member of a multicast group: a datagram socket bound to the group's port
// on every interface and joined to the group on the default interface. It
// receives what anyone sends to the group on that port (its own datagrams
// included) and sends to the group. A datagram goes to the group's address at
// the port of the last datagram received, so a reply reaches a sender that
// sends from another port; until one arrives it goes to the group's port.
//
// Owns its socket and closes it when destroyed, and the socket's readiness
// watch (a child notifier). UI thread only.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <netinet/in.h>

class MulticastMember : public QObject {
    Q_OBJECT

public:
    // Which steps of joining failed. Joining goes on past a failed step, so
    // a later step may fail because an earlier one did.
    struct JoinReport {
        bool socketFailed = false;
        int socketError = 0; // errno of the failed socket()
        bool bindFailed = false;
        bool membershipFailed = false;
    };
    // What a send reports: the pending socket error other than would-block
    // (0 for none), whether the call failed, whether the datagram went out
    // whole.
    struct SendReport {
        int error = 0;
        bool callFailed = false;
        bool whole = true;
        [[nodiscard]] bool ok() const { return error == 0 && !callFailed && whole; }
    };

    MulticastMember() = default;
    ~MulticastMember() override;

    // Joins and starts watching the socket: connect to readable before the
    // event loop runs again.
    JoinReport join(const QString &groupAddress, int port);
    // The waiting datagram, empty when none could be read.
    QByteArray receive();
    SendReport send(const QByteArray &data);
    void close();

    // The port the socket is bound to, or the port asked for when it has
    // none.
    [[nodiscard]] int port() const;
    [[nodiscard]] int socket() const { return socket_; }

signals:
    // A datagram waits (emitted inside the exception guard); the next comes
    // only once receive() was called. Nothing comes after close().
    void readable();

private:
    int socket_ = -1;
    int requestedPort_ = 0;
    QString address_;
    sockaddr_in sendTo_{};
};
