#pragma once
// Creates, starts, stops, removes and links endpoints, and owns the endpoint
// list. Each endpoint gets its node in the tree, under its kind's node, and
// its data window among the documents. It shows no dialog and decides no
// selection beyond selecting the node of an endpoint it makes.
//
// Ownership and threading: owns the endpoint list (and through it the
// records) and the transports it makes (as QObject children). Refers to the
// tree and the document area of the main window that owns it and outlives
// it. UI thread only.

#include "endpoints/endpoint.h"
#include "ui/stateimages.h"

#include <QHash>
#include <QObject>

#include <memory>

class DataWindow;
class DocumentArea;
class EndpointTree;
class QTreeWidgetItem;

class EndpointController : public QObject {
    Q_OBJECT

public:
    EndpointController(EndpointTree &tree, DocumentArea &documents, QObject *parent = nullptr);
    ~EndpointController() override;

    [[nodiscard]] EndpointList &endpoints() { return list_; }
    [[nodiscard]] EndpointTree &tree() { return tree_; }
    // The kind node of the given kind.
    [[nodiscard]] QTreeWidgetItem *kindNode(EndpointKind kind) const;

    Endpoint *createTcpServer(int port);
    Endpoint *createTcpClient(const QString &address, int port);
    Endpoint *createUdpClient(const QString &address, int remotePort, int localPort);
    Endpoint *createUdpServer(int localPort);
    Endpoint *createUdpGroup(const QString &groupAddress, int groupPort);
    // A data window for the endpoint, in front of the documents.
    DataWindow *makeWindow(Endpoint &endpoint);
    // Adds the node of a new endpoint under its kind's node, selects it,
    // refreshes the status panel and hands the record to the endpoint list.
    Endpoint *attach(std::unique_ptr<Endpoint> record, const QString &text, NodeImage image);

    // The start button of a TCP Server (listen again) or a TCP Client
    // (connect again); other kinds have none.
    void start(Endpoint &endpoint);
    void stop(Endpoint &endpoint);
    // Frees the endpoint's transport, window, node and record. A server's
    // peers are removed first. Safe to call from the endpoint's own handlers:
    // what is running is destroyed only once control is back in the loop.
    void remove(Endpoint *endpoint);

    // The endpoint a data window stands for; nullptr once it is removed.
    [[nodiscard]] Endpoint *endpointOfWindow(const QWidget *window) const;

    // Sends the file through the window's endpoint, the window showing how
    // it goes; a window sends one file at a time.
    void sendFile(DataWindow *window, const QString &path);

    // Stops timed sending and every repeat in every data window.
    void endAllSending();
    // Stops every TCP Server as its stop command does (peers first).
    void stopAllServers();

private:
    EndpointTree &tree_;
    DocumentArea &documents_;
    EndpointList list_;
    QHash<const QWidget *, Endpoint *> windows_;
};

// Unbinds the endpoint's handlers from its own transport (an accepted
// connection's handlers belong to its server and are left alone).
void unbindTransport(Endpoint &endpoint);
// Silences and closes the endpoint's own transport (and a group's socket) and
// hands it to the caller to free; nullptr for an accepted connection.
[[nodiscard]] QObject *releaseTransport(Endpoint &endpoint);
