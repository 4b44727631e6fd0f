#pragma once
// The endpoint record and the endpoint list that owns the records.
//
// A Endpoint ties an endpoint's kind, state, transport, addresses and session
// together; it knows no view (the tree node and data window that show it are
// kept by the view binder). The list owns the records; a record does not own
// its transport or its session (whoever removes the endpoint frees those).
// UI thread only.

#include "session/endpointkind.h"

#include <QPointer>
#include <QString>

#include <cstddef>
#include <iterator>
#include <list>
#include <memory>
#include <unordered_map>

class QObject;
class EndpointSession;
class MulticastMember;
class SerialBridge;
class SerialEndpoint;
class TcpClient;
class TcpConnection;
class TcpServer;
class UdpSocket;

// Where an endpoint stands. A TCP Server listens or is stopped; a TCP Client
// and an accepted peer are connected or disconnected, and so is a serial
// port (its device open or closed); UDP endpoints are open from the start
// and have no state beyond that.
enum class EndpointState {
    Stopped,
    Listening,
    Disconnected,
    Connected,
    Open,
};

// Listening or connected: the stop button works, the start button does not.
[[nodiscard]] constexpr bool isRunning(EndpointState state)
{
    return state == EndpointState::Listening || state == EndpointState::Connected;
}

class Endpoint {
public:
    Endpoint();
    ~Endpoint();
    Endpoint(const Endpoint &) = delete;
    Endpoint &operator=(const Endpoint &) = delete;

    Endpoint *partner = nullptr; // partner of a monitoring pipe; never a removed endpoint
    QString createdText;
    EndpointKind kind = EndpointKind::TcpServer;
    // Weak: an accepted connection belongs to its server, which may free it
    // while this record is still listed.
    QPointer<QObject> transport;
    // The transport as what it is; nullptr for another kind or once the
    // transport is gone.
    [[nodiscard]] TcpServer *tcpServer() const;
    [[nodiscard]] TcpClient *tcpClient() const;
    [[nodiscard]] TcpConnection *peerConnection() const;
    [[nodiscard]] UdpSocket *udp() const;
    [[nodiscard]] SerialEndpoint *serialPort() const;
    EndpointState state = EndpointState::Stopped;
    // What the endpoint is called in the tree: "address[port]".
    QString nodeText;
    // A TCP Server answers each new peer with the fixed web page.
    bool webReplyOn = false;
    // A UDP Server's bridge device as its workspace named it; empty for the
    // program's own "com1".
    QString serialDevice;
    int localPort = 0;
    QString localAddress;
    int peerPort = 0;
    QString peerAddress;
    // The traffic state; a data window is its view.
    QPointer<EndpointSession> session;
    // A UDP Group's membership; none for other kinds.
    std::unique_ptr<MulticastMember> group;
    // A UDP Server's bridge to the serial port "com1"; none for other kinds.
    std::unique_ptr<SerialBridge> serialBridge;

    // Expires when the record is freed. Work that goes on from the event loop
    // after the call that started it (a file sent in steps) holds it to
    // notice that the endpoint was removed meanwhile.
    [[nodiscard]] std::weak_ptr<const Endpoint> lifetime() const { return lifetime_; }

private:
    // Owns nothing: it only marks this record as alive.
    std::shared_ptr<const Endpoint> lifetime_{this, [](const Endpoint *) {}};
};

// A new record of the given kind, stamped with the current local date and time.
[[nodiscard]] std::unique_ptr<Endpoint> makeEndpoint(EndpointKind kind);

// The local date and time as records show it: short date, one blank, long time.
[[nodiscard]] QString currentDateTimeText();

// "address[port]", the text of an endpoint's node.
[[nodiscard]] QString nodeText(const QString &address, int port);

// Owns the records, in the order they were appended. Adding, finding and
// removing a record take constant time, so a server with ten thousand peers
// costs no more per peer than one with ten.
class EndpointList {
    using Items = std::list<std::unique_ptr<Endpoint>>;

public:
    // Walks the records in order; removing a record while walking leaves the
    // walk undefined.
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Endpoint *;
        using difference_type = std::ptrdiff_t;
        using pointer = Endpoint *const *;
        using reference = Endpoint *;

        Iterator() = default;
        explicit Iterator(Items::const_iterator at)
            : at_(at)
        {
        }
        Endpoint *operator*() const { return at_->get(); }
        Iterator &operator++()
        {
            ++at_;
            return *this;
        }
        Iterator operator++(int)
        {
            Iterator before = *this;
            ++at_;
            return before;
        }
        bool operator==(const Iterator &) const = default;

    private:
        Items::const_iterator at_;
    };

    void add(std::unique_ptr<Endpoint> record);
    // Frees the record; its partner, if linked, is unlinked first.
    void remove(Endpoint *record);
    [[nodiscard]] int size() const { return int(items_.size()); }
    [[nodiscard]] bool contains(const Endpoint *record) const { return where_.count(record) > 0; }
    [[nodiscard]] Iterator begin() const { return Iterator(items_.begin()); }
    [[nodiscard]] Iterator end() const { return Iterator(items_.end()); }
    // The record at `index` in the order of adding. Walks the list: for
    // tools and tests, not for a path that runs once per peer.
    [[nodiscard]] Endpoint *at(int index) const;

private:
    Items items_;
    std::unordered_map<const Endpoint *, Items::iterator> where_;
};

// Links two endpoints into a monitoring pipe. A partner that pointed back at
// either of them loses its link, so no record keeps a partner that has moved on.
void linkEndpoints(Endpoint &target, Endpoint &dragged);
