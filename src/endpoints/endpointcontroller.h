#pragma once
// Creates, starts, stops, removes and links endpoints, and owns the endpoint
// list. It publishes what changes as signals, for the views (tree nodes and
// data windows) and for a run without a window; it shows nothing and knows
// no widget.
//
// Ownership and threading: owns the endpoint list (and through it the
// records), the transports it makes and each endpoint's session (as QObject
// children), and the program's budget for output waiting on connections,
// which the outboxes share. UI thread only.

#include "endpoints/endpoint.h"

#include <QHash>
#include <QObject>

#include <exception>
#include <functional>
#include <memory>

class ByteBudget;
class FileTransfer;
struct SerialSetup;
class TcpConnection;

class EndpointController : public QObject {
    Q_OBJECT

public:
    explicit EndpointController(QObject *parent = nullptr);
    ~EndpointController() override;

    // What replies and sends waiting on every TCP connection hold together
    // (PORTWRIGHT_OUTPUT_BUDGET_MB, 256 MB unless set): past it a new reply
    // or send is refused and counted.
    [[nodiscard]] ByteBudget &outputBudget() { return *outputBudget_; }

    [[nodiscard]] EndpointList &endpoints() { return list_; }

    Endpoint *createTcpServer(int port);
    Endpoint *createTcpClient(const QString &address, int port);
    Endpoint *createUdpClient(const QString &address, int remotePort, int localPort);
    // serialDevice names the device of the bridge to "com1"; empty is the
    // program's own.
    Endpoint *createUdpServer(int localPort, const QString &serialDevice = QString());
    Endpoint *createUdpGroup(const QString &groupAddress, int groupPort);
    // The device is opened at once; one that does not open is told and the
    // endpoint is made all the same, closed (and looked for, with
    // reconnecting on).
    Endpoint *createSerialPort(const SerialSetup &setup);
    // The session of a new endpoint, with its reply rules and the ways it
    // sends and answers through the endpoint's transport.
    EndpointSession *makeSession(Endpoint &endpoint);
    // Hands a new record, with its session, to the endpoint list and
    // announces it (under its server for an accepted peer).
    Endpoint *attach(std::unique_ptr<Endpoint> record, Endpoint *server = nullptr);

    // The start button of a TCP Server (listen again), a TCP Client
    // (connect again) or a serial port (open again); other kinds have none.
    void start(Endpoint &endpoint);
    void stop(Endpoint &endpoint);
    // Frees the endpoint's transport, session and record. A server's peers
    // are removed first. Safe to call from the endpoint's own handlers: what
    // is running is destroyed only once control is back in the loop.
    void remove(Endpoint *endpoint);
    // The delete command: a peer goes through its own disconnection, a
    // connected client disconnects first, as it would on its own; the rest
    // are removed. True when this call removed it.
    bool deleteByUser(Endpoint *endpoint);

    // Whether a drag of one endpoint onto another may link them into a
    // monitoring pipe: two endpoints of different kinds and names.
    [[nodiscard]] bool canLink(const Endpoint *dragged, const Endpoint *target) const;
    void link(Endpoint &dragged, Endpoint &target);

    // Sends the file through the endpoint, its session following how it
    // goes; a session sends one file at a time. nullptr when nothing started.
    FileTransfer *sendFile(Endpoint &endpoint, const QString &path);

    // Stops timed sending and every repeat of every endpoint.
    void endAllSending();
    // Stops every TCP Server as its stop command does (peers first).
    void stopAllServers();

    // Whether a TCP Server answers its peers with the fixed web page.
    void setWebReplyOn(Endpoint &server, bool on);
    [[nodiscard]] static bool isWebReplyOn(const Endpoint &server) { return server.webReplyOn; }

    // The listed endpoint a TCP connection (a client's, or an accepted
    // peer's) stands for; nullptr for none. Constant time: a server holds
    // thousands of peers, and every piece one of them sends asks.
    [[nodiscard]] Endpoint *endpointOf(const TcpConnection *connection) const
    {
        return byConnection_.value(connection, nullptr);
    }
    // Records which listed endpoint the connection stands for; nullptr (or
    // an endpoint no longer listed) forgets it. The record is forgotten when the connection is destroyed
    // and when the endpoint is removed, whichever comes first.
    void setEndpointOf(TcpConnection *connection, Endpoint *endpoint);

    // Announces that the endpoint's state, node text or status content has
    // changed.
    void changed(Endpoint &endpoint) { emit endpointChanged(&endpoint); }
    // Asks the views to show this endpoint to the user now.
    void bringForward(Endpoint &endpoint) { emit endpointBroughtForward(&endpoint); }

signals:
    // A new, listed endpoint; `server` is the TCP Server of an accepted peer
    // and nullptr for any other kind.
    void endpointAdded(Endpoint *endpoint, Endpoint *server);
    void endpointChanged(Endpoint *endpoint);
    void endpointBroughtForward(Endpoint *endpoint);
    // Still listed, its session detached; freed once the handlers return.
    void endpointAboutToBeRemoved(Endpoint *endpoint);
    // A message for the user, and a failure for the standard error box, in
    // the order they happen.
    void messageForUser(const QString &text);
    void failureForUser(std::exception_ptr failure);
    // A TCP client's attempt ended without a connection (refused,
    // unreachable, a host that does not resolve), the reason in the system's
    // words. The window shows nothing for it: the client stays disconnected
    // and may be connected again. A run without a window reports it.
    void connectFailed(Endpoint *client, const QString &reason);

private:
    // Disconnects the endpoint's handlers from its own transport (an
    // accepted connection's signals are its server's and are left alone).
    void unbindTransport(Endpoint &endpoint);
    // Silences and closes the endpoint's own transport (and a group's
    // socket) and hands it to the caller to free; nullptr for an accepted
    // connection.
    [[nodiscard]] QObject *releaseTransport(Endpoint &endpoint);

    std::shared_ptr<ByteBudget> outputBudget_;
    EndpointList list_;
    // Which endpoint each TCP connection stands for. Keys are only ever
    // compared, never followed: an entry goes before its connection's
    // memory does.
    QHash<const TcpConnection *, Endpoint *> byConnection_;
};
// The name a saved log of the endpoint is offered under (before the date).
[[nodiscard]] QString logFileNameBase(const Endpoint &endpoint);
