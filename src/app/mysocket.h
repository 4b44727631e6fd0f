#pragma once
// The endpoint record and the endpoint list that owns the records.
//
// A TMySocket ties an endpoint's kind, transport, tree node and data window
// together. The list owns the records; a record does not own its transport or
// its window (whoever removes the endpoint frees those). UI thread only.

#include <QPointer>
#include <QString>

#include <netinet/in.h>

#include <memory>
#include <vector>

class QObject;
class QTreeWidgetItem;
class TFrmData;
class UdpSocket;

namespace Kinds {
inline const QString TcpServer = QStringLiteral("TCP Server");
inline const QString TcpServerClient = QStringLiteral("TCP ServerClient");
inline const QString TcpClient = QStringLiteral("TCP Client");
inline const QString UdpServer = QStringLiteral("UDP Server");
inline const QString UdpClient = QStringLiteral("UDP Client");
inline const QString UdpGroup = QStringLiteral("UDP Group");
} // namespace Kinds

// State image numbers of the tree.
enum StateImage : int {
    ImgConnected = 1,
    ImgDisconnected = 2,
    ImgListening = 3,
    ImgStopped = 4,
    ImgUdp = 5,
    ImgGroup = 6,
    ImgKindNode = 7,
};

class TMySocket {
public:
    TMySocket *Link = nullptr; // partner of a monitoring pipe; never a removed endpoint
    QString CreateTime;
    QString Kind;
    // Weak: an accepted connection belongs to its server, which may free it
    // while this record is still listed.
    QPointer<QObject> Transport;
    QTreeWidgetItem *Node = nullptr;
    int State = 0;
    int LocalPort = 0;
    QString LocalIP;
    int RemotePort = 0;
    QString RemoteIP;
    QPointer<TFrmData> DataForm;
    UdpSocket *UdpClient = nullptr;
    UdpSocket *UdpServer = nullptr;
    int GroupSocket = -1; // no socket yet
    sockaddr_in BindAddr{};
    sockaddr_in GroupAddr{};
    ip_mreq Membership{};
    int GroupPort = 0;
    QString GroupIP;
};

// A new record of the given kind, stamped with the current local date and time.
[[nodiscard]] std::unique_ptr<TMySocket> MakeRecord(const QString &kind);

// The local date and time as records show it: short date, one blank, long time.
[[nodiscard]] QString CurrentDateTimeText();

// The endpoint record a tree node carries, or nullptr for a kind node.
[[nodiscard]] TMySocket *EndpointOf(const QTreeWidgetItem *node);
void SetEndpointOf(QTreeWidgetItem *node, TMySocket *record);

// "address[port]", the text of an endpoint's node.
[[nodiscard]] QString NodeText(const QString &address, int port);

// Owns the records, in the order they were appended.
class TEndpointList {
public:
    void Add(std::unique_ptr<TMySocket> record);
    // Frees the record; a partner whose Link points at it is unlinked first.
    void Remove(TMySocket *record);
    [[nodiscard]] int Count() const { return int(items_.size()); }
    [[nodiscard]] TMySocket *Items(int index) const { return items_.at(size_t(index)).get(); }
    [[nodiscard]] int IndexOf(const TMySocket *record) const;
    [[nodiscard]] bool Contains(const TMySocket *record) const { return IndexOf(record) >= 0; }

private:
    std::vector<std::unique_ptr<TMySocket>> items_;
};

// Links two endpoints into a monitoring pipe. A partner that pointed back at
// either of them loses its link, so no record keeps a partner that has moved on.
void LinkEndpoints(TMySocket &target, TMySocket &dragged);
