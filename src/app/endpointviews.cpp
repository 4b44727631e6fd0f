#include "app/endpointviews.h"

#include "core/bytebudget.h"
#include "core/errors.h"
#include "core/logbudget.h"
#include "datawindow/datawindow.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/endpointstatus.h"
#include "endpoints/filetransfer.h"
#include "ui/documentarea.h"
#include "ui/endpointtree.h"
#include "ui/messages.h"
#include "ui/stateimages.h"

#include <QTreeWidgetItem>

#include <utility>

namespace {

constexpr int EndpointRole = Qt::UserRole + 1;

// The record a node carries; nullptr for a kind node. The record may be gone:
// callers check that it is listed.
Endpoint *endpointAt(const QTreeWidgetItem *node)
{
    if (!node)
        return nullptr;
    return reinterpret_cast<Endpoint *>(node->data(0, EndpointRole).value<quintptr>());
}

void setEndpointAt(QTreeWidgetItem *node, Endpoint *record)
{
    node->setData(0, EndpointRole, QVariant::fromValue(reinterpret_cast<quintptr>(record)));
}

NodeImage imageOf(const Endpoint &endpoint)
{
    if (endpoint.kind == EndpointKind::UdpGroup)
        return NodeImage::Group;
    if (endpoint.kind == EndpointKind::UdpClient || endpoint.kind == EndpointKind::UdpServer)
        return NodeImage::Udp;
    switch (endpoint.state) {
    case EndpointState::Stopped:
        return NodeImage::Stopped;
    case EndpointState::Listening:
        return NodeImage::Listening;
    case EndpointState::Disconnected:
        return NodeImage::Disconnected;
    case EndpointState::Connected:
        return NodeImage::Connected;
    case EndpointState::Open:
        return NodeImage::Udp;
    }
    return NodeImage::None;
}

} // namespace

EndpointViews::EndpointViews(
    EndpointController &controller, EndpointTree &tree, DocumentArea &documents, QObject *parent)
    : QObject(parent)
    , controller_(controller)
    , tree_(tree)
    , documents_(documents)
    , previousSink_(SetUserMessageSink({[](const QString &text) { ShowMessage(text); },
          [](const std::exception &e) { ShowException(e); }}))
    , logBudget_(std::make_shared<LogBudget>(budgetFromEnvironment("PORTWRIGHT_LOG_BUDGET_MB")))
{
    // One window is in front at a time: only it and the one before it are
    // told, not every window.
    connect(&documents_, &DocumentArea::activeDocumentChanged, this, [this](QWidget *document) {
        auto *window = qobject_cast<DataWindow *>(document);
        if (inFront_ == window)
            return;
        if (inFront_)
            inFront_->setLogInFront(false);
        inFront_ = window;
        if (window)
            window->setLogInFront(true);
    });
    connect(&controller_, &EndpointController::endpointAdded, this, &EndpointViews::add);
    connect(&controller_, &EndpointController::endpointChanged, this, &EndpointViews::update);
    connect(&controller_, &EndpointController::endpointBroughtForward, this, &EndpointViews::bringForward);
    connect(&controller_, &EndpointController::endpointAboutToBeRemoved, this, &EndpointViews::drop);
    connect(&controller_, &EndpointController::messageForUser, this,
        [](const QString &text) { ShowMessage(text); });
    connect(&controller_, &EndpointController::failureForUser, this, [](const std::exception_ptr &failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception &e) {
            ShowException(e);
        }
    });
}

EndpointViews::~EndpointViews()
{
    SetUserMessageSink(std::move(previousSink_));
}

QTreeWidgetItem *EndpointViews::kindNode(EndpointKind kind) const
{
    const QString label = kindLabel(kind);
    for (int i = 0; i < tree_.topLevelItemCount(); ++i)
        if (tree_.topLevelItem(i)->text(0) == label)
            return tree_.topLevelItem(i);
    return nullptr;
}

QTreeWidgetItem *EndpointViews::nodeOf(const Endpoint *endpoint) const
{
    const auto found = views_.constFind(endpoint);
    return found == views_.cend() ? nullptr : found->node;
}

DataWindow *EndpointViews::windowOf(const Endpoint *endpoint) const
{
    const auto found = views_.constFind(endpoint);
    return found == views_.cend() ? nullptr : found->window.data();
}

Endpoint *EndpointViews::endpointOfWindow(const QWidget *window) const
{
    return windows_.value(window, nullptr);
}

Endpoint *EndpointViews::endpointOfNode(const QTreeWidgetItem *node) const
{
    Endpoint *endpoint = endpointAt(node);
    return endpoint && controller_.endpoints().contains(endpoint) ? endpoint : nullptr;
}

void EndpointViews::add(Endpoint *endpoint, Endpoint *server)
{
    removeLeavingNodes();
    DataWindow *window = makeWindow(*endpoint);
    // Under the kind node, not under whatever is selected now: a peer that
    // arrived while the creation dialog was open has taken the selection.
    QTreeWidgetItem *parent = server ? nodeOf(server) : kindNode(endpoint->kind);
    if (!parent) {
        // A peer of a server that has no node of its own shows no node either.
        views_.insert(endpoint, {nullptr, window});
        window->showStatus(statusOf(*endpoint));
        return;
    }
    auto *node = new QTreeWidgetItem(parent, {endpoint->nodeText});
    parent->setExpanded(true);
    setEndpointAt(node, endpoint);
    setNodeImage(node, imageOf(*endpoint));
    views_.insert(endpoint, {node, window});
    // A burst of peers selects the last one once the burst has passed.
    if (server)
        tree_.selectSoon(node);
    else
        tree_.setCurrentItem(node);
    window->showStatus(statusOf(*endpoint));
}

DataWindow *EndpointViews::makeWindow(Endpoint &endpoint)
{
    auto *window = new DataWindow(&documents_, endpoint.session);
    window->setLogBudget(logBudget_);
    windows_.insert(window, &endpoint);
    window->setLogFileNameBase(logFileNameBase(endpoint));
    if (endpoint.kind == EndpointKind::TcpServer) {
        window->showWebReplySwitch();
        window->showWebReplyOn(endpoint.webReplyOn);
        connect(window, &DataWindow::webReplyToggled, this, [this, window](bool on) {
            if (Endpoint *own = endpointOfWindow(window))
                controller_.setWebReplyOn(*own, on);
        });
    }
    // The window asks for its own endpoint, whichever node the tree has
    // selected; a window detached from its endpoint asks nothing.
    connect(window, &DataWindow::startRequested, this, [this, window] {
        if (Endpoint *own = endpointOfWindow(window))
            controller_.start(*own);
    });
    connect(window, &DataWindow::stopRequested, this, [this, window] {
        if (Endpoint *own = endpointOfWindow(window))
            controller_.stop(*own);
    });
    connect(window, &DataWindow::fileSendRequested, this, [this, window](const QString &path) {
        Guarded([&] {
            Endpoint *own = endpointOfWindow(window);
            if (!own)
                return;
            if (FileTransfer *transfer = controller_.sendFile(*own, path))
                connect(window, &DataWindow::transferCancelRequested, transfer, &FileTransfer::cancel);
        });
    });
    return window;
}

void EndpointViews::update(Endpoint *endpoint)
{
    // A peer that has disconnected is removed right after, its node and
    // window with it. Drawing it disconnected first would change the tree
    // once per peer when a server stops, each change told to assistive
    // technologies, for a picture nobody sees.
    if (endpoint->kind == EndpointKind::TcpAcceptedPeer && endpoint->state == EndpointState::Disconnected)
        return;
    const auto found = views_.constFind(endpoint);
    if (found == views_.cend())
        return;
    if (QTreeWidgetItem *node = found->node) {
        if (node->text(0) != endpoint->nodeText)
            node->setText(0, endpoint->nodeText);
        const NodeImage image = imageOf(*endpoint);
        if (nodeImageOf(node) != image)
            setNodeImage(node, image);
    }
    if (DataWindow *window = found->window) {
        window->showStatus(statusOf(*endpoint));
        if (endpoint->kind == EndpointKind::TcpServer)
            window->showWebReplyOn(endpoint->webReplyOn);
    }
}

void EndpointViews::bringForward(Endpoint *endpoint)
{
    removeLeavingNodes();
    if (QTreeWidgetItem *node = nodeOf(endpoint))
        tree_.setCurrentItem(node);
}

void EndpointViews::drop(Endpoint *endpoint)
{
    const View view = views_.take(endpoint);
    if (DataWindow *window = view.window) {
        windows_.remove(window);
        window->destroyLater();
    }
    QTreeWidgetItem *node = view.node;
    if (!node)
        return;
    QTreeWidgetItem *server = node->parent();
    const bool peer = endpoint->kind == EndpointKind::TcpAcceptedPeer && server && server->parent();
    // The selected peer's node waits too: deleted now, it would hand the
    // selection (and the front) to the next peer, which a stop closes next.
    if (peer) {
        if (leaving_.isEmpty())
            QMetaObject::invokeMethod(
                this, [this] { Guarded([this] { removeLeavingNodes(); }); }, Qt::QueuedConnection);
        QList<QTreeWidgetItem *> &nodes = leaving_[server];
        nodes.push_back(node);
        // The last peer of a server (a stop ends with it) takes them all
        // along at once.
        if (nodes.size() == server->childCount())
            removeLeavingNodes();
        return;
    }
    removeLeavingNodes();
    delete node; // selects another node, whose handler may run now
}

void EndpointViews::removeLeavingNodes()
{
    if (leaving_.isEmpty())
        return;
    // A handler the removal runs may come back here: it finds nothing left.
    const auto leaving = std::exchange(leaving_, {});
    for (auto it = leaving.cbegin(); it != leaving.cend(); ++it)
        tree_.removeChildren(it.key(), it.value());
}

void EndpointViews::showEndpointAt(QTreeWidgetItem *node)
{
    Endpoint *endpoint = endpointOfNode(node);
    DataWindow *window = windowOf(endpoint);
    if (!window)
        return;
    window->showStatus(statusOf(*endpoint));
    window->bringToFront();
}

void EndpointViews::selectNodeOfWindow(QWidget *window)
{
    // The commands act on the endpoint the user sees. With nothing in front
    // the selection stays.
    removeLeavingNodes();
    QTreeWidgetItem *node = nodeOf(endpointOfWindow(window));
    if (node && tree_.currentItem() != node)
        tree_.setCurrentItem(node);
}

bool EndpointViews::canLink(QTreeWidgetItem *dragged, QTreeWidgetItem *target) const
{
    // Dropped on empty space: the tree lets it go without a link.
    if (!target)
        return true;
    return controller_.canLink(endpointOfNode(dragged), endpointOfNode(target));
}

void EndpointViews::linkDropped(QTreeWidgetItem *dragged, QTreeWidgetItem *target)
{
    Endpoint *from = endpointOfNode(dragged);
    Endpoint *to = endpointOfNode(target);
    removeLeavingNodes();
    if (from && to)
        controller_.link(*from, *to);
}
