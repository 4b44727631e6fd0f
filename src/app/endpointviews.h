#pragma once
// The views of the endpoints: for each endpoint the controller announces, a
// node in the tree (under its kind's node, a peer under its server's) and a
// data window among the documents, kept in step with the endpoint's state,
// text and status. It routes a window's start, stop and file requests to the
// controller, and shows the controller's messages in message boxes.
//
// Ownership and threading: owns the endpoints' nodes and windows (the tree
// and the document area hold them as Qt children; removing an endpoint frees
// them). Refers to the controller, the tree and the document area of the
// main window that owns it; the controller must go first, the binder answers
// its web reply question. UI thread only.

#include "core/usermessages.h"
#include "endpoints/endpoint.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <memory>

class DataWindow;
class DocumentArea;
class EndpointController;
class EndpointTree;
class LogBudget;
class QTreeWidgetItem;
class QWidget;

class EndpointViews : public QObject {
    Q_OBJECT

public:
    EndpointViews(EndpointController &controller, EndpointTree &tree, DocumentArea &documents,
        QObject *parent = nullptr);
    ~EndpointViews() override;

    // What the logs of every window keep together (PORTWRIGHT_LOG_BUDGET_MB,
    // 256 MB unless set): past it the least recently active logs give up
    // their oldest entries.
    [[nodiscard]] LogBudget &logBudget() { return *logBudget_; }

    // The kind node of the given kind.
    [[nodiscard]] QTreeWidgetItem *kindNode(EndpointKind kind) const;
    [[nodiscard]] QTreeWidgetItem *nodeOf(const Endpoint *endpoint) const;
    [[nodiscard]] DataWindow *windowOf(const Endpoint *endpoint) const;
    // The endpoint a data window stands for; nullptr once it is removed.
    [[nodiscard]] Endpoint *endpointOfWindow(const QWidget *window) const;
    // The listed endpoint a node stands for; nullptr for a kind node.
    [[nodiscard]] Endpoint *endpointOfNode(const QTreeWidgetItem *node) const;

    // A node was selected: its endpoint's window shows the current status
    // and comes to the front.
    void showEndpointAt(QTreeWidgetItem *node);
    // The selected node always stands for the window in front.
    void selectNodeOfWindow(QWidget *window);
    [[nodiscard]] bool canLink(QTreeWidgetItem *dragged, QTreeWidgetItem *target) const;
    void linkDropped(QTreeWidgetItem *dragged, QTreeWidgetItem *target);

private:
    struct View {
        QTreeWidgetItem *node = nullptr;
        QPointer<DataWindow> window;
    };

    void add(Endpoint *endpoint, Endpoint *server);
    DataWindow *makeWindow(Endpoint &endpoint);
    void update(Endpoint *endpoint);
    void bringForward(Endpoint *endpoint);
    void drop(Endpoint *endpoint);
    // Peers' nodes leave the tree together: with the last peer of their
    // server, when anything else reaches the views, or once control is back
    // in the event loop, whichever comes first.
    void removeLeavingNodes();

    EndpointController &controller_;
    EndpointTree &tree_;
    DocumentArea &documents_;
    QHash<const Endpoint *, View> views_;
    QHash<const QWidget *, Endpoint *> windows_;
    // By server node, the nodes of its peers that are gone, in the order
    // they went.
    QHash<QTreeWidgetItem *, QList<QTreeWidgetItem *>> leaving_;
    UserMessageSink previousSink_;
    std::shared_ptr<LogBudget> logBudget_;
    QPointer<DataWindow> inFront_;
};
