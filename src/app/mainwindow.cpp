#include "app/mainwindow.h"

#include "app/dialogs/newtcpclientdialog.h"
#include "app/dialogs/newtcpserverdialog.h"
#include "app/dialogs/newudpclientdialog.h"
#include "app/dialogs/newudpgroupdialog.h"
#include "app/dialogs/newudpserverdialog.h"
#include "endpoints/endpointcontroller.h"

#include "endpoints/endpointstatus.h"
#include "endpoints/tcpendpointevents.h"
#include "core/errors.h"
#include "datawindow/datawindow.h"
#include "net/tcp/tcpsocket.h"
#include "ui/documentarea.h"
#include "ui/endpointtree.h"
#include "ui/infopanel.h"
#include "ui/messages.h"
#include "ui/stateimages.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStackedLayout>
#include <QStatusBar>

namespace {

constexpr EndpointKind kindOrder[]
    = {EndpointKind::TcpServer, EndpointKind::TcpClient, EndpointKind::UdpServer, EndpointKind::UdpClient, EndpointKind::UdpGroup};

void paint(QWidget *w, const QColor &colour, QPalette::ColorRole role = QPalette::Window)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

QPushButton *stripButton(const QString &caption, int width, int height, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setFixedSize(width, height);
    return button;
}

// Connects a button to a handler that runs inside the exception guard.
template <typename Handler> void onClick(QPushButton *button, QObject *context, Handler handler)
{
    QObject::connect(button, &QPushButton::clicked, context, [handler] { Guarded(handler); });
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Portwright V2.5"));
    setMinimumSize(125, 50);
    setMaximumSize(1024, 734);
    resize(717, 541);

    buildStrip();
    buildTree();

    infoPanel = new InfoPanel;
    documents = new DocumentArea;
    connect(documents, &DocumentArea::activeDocumentChanged, this,
        [this](QWidget *front) { Guarded([&] { selectNodeOfWindow(front); }); });
    auto *documentArea = new QWidget;
    documentStack_ = new QStackedLayout(documentArea);
    documentStack_->addWidget(documents);
    documentStack_->addWidget(infoPanel);
    documentStack_->setCurrentWidget(infoPanel);

    splitter = new QSplitter(Qt::Horizontal);
    splitter->setHandleWidth(3);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(treePanel);
    splitter->addWidget(documentArea);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({183, 534});

    auto *central = new QWidget;
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(commandStrip);
    column->addWidget(splitter, 1);
    setCentralWidget(central);

    statusBar = new QStatusBar;
    statusBar->showMessage(QStringLiteral("Portwright — portwright.example.org"));
    setStatusBar(statusBar);
    statusBar->hide();

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    controller_ = std::make_unique<EndpointController>(*tree, *documents);
}

MainWindow::~MainWindow()
{
    // The documents die after the endpoint list; none may reach it then.
    disconnect(documents, nullptr, this, nullptr);
    controller_.reset();
}

EndpointList &MainWindow::endpoints()
{
    return controller_->endpoints();
}

QTreeWidgetItem *MainWindow::kindNode(EndpointKind kind) const
{
    return controller_->kindNode(kind);
}

void MainWindow::buildStrip()
{
    commandStrip = new QWidget;
    commandStrip->setFixedHeight(35);
    paint(commandStrip, QColor(135, 206, 235));
    auto *strip = new QHBoxLayout(commandStrip);
    strip->setContentsMargins(0, 0, 0, 0);
    banner = new QWidget(commandStrip);
    banner->setObjectName(QStringLiteral("banner"));
    banner->setStyleSheet(
        QStringLiteral("#banner { background-image: url(:/portwright/images/banner.jpg); }"));
    banner->setAttribute(Qt::WA_StyledBackground);
    strip->addWidget(banner);

    auto *buttons = new QHBoxLayout(banner);
    buttons->setContentsMargins(6, 4, 6, 4);
    createButton = stripButton(QStringLiteral("创建"), 80, 27, banner);
    deleteButton = stripButton(QStringLiteral("删除"), 80, 27, banner);
    startButton = stripButton(QStringLiteral("启动"), 80, 27, banner);
    stopButton = stripButton(QStringLiteral("停止 "), 80, 27, banner);
    exitButton = stripButton(QStringLiteral("退出"), 80, 26, banner);
    startButton->setFlat(true);
    stopButton->setFlat(true);
    startButton->hide();
    stopButton->hide();
    for (QPushButton *b : {createButton, deleteButton, startButton, stopButton, exitButton})
        buttons->addWidget(b);
    buttons->addStretch(1);

    onClick(createButton, this, [this] { createForSelectedKind(); });
    onClick(deleteButton, this, [this] { deleteSelected(); });
    onClick(stopButton, this, [this] { stopSelected(); });
    onClick(exitButton, this, [this] { quit(); });
}

void MainWindow::buildTree()
{
    treePanel = new QWidget;
    treePanel->setMinimumWidth(40);
    auto *layout = new QVBoxLayout(treePanel);
    layout->setContentsMargins(0, 0, 0, 0);
    tree = new EndpointTree(treePanel);
    layout->addWidget(tree);
    tree->setHeaderHidden(true);
    tree->setIndentation(19);
    tree->setRootIsDecorated(false);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setMouseTracking(true);
    tree->setIconSize(QSize(16, 16));
    // Every row is one icon and one line of text. Asked of each row instead,
    // selecting a new peer's node measures the whole tree again, which made
    // a burst of 1,000 connects slow down as the tree grew.
    tree->setUniformRowHeights(true);
    QPalette p = tree->palette();
    p.setColor(QPalette::Base, QColor(251, 250, 240));
    // The selection stays visible when the tree loses focus.
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(
        QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    tree->setPalette(p);

    for (const EndpointKind kind : kindOrder) {
        auto *node = new QTreeWidgetItem(tree, {kindLabel(kind)});
        setNodeImage(node, NodeImage::KindNode);
    }

    connect(tree, &QTreeWidget::currentItemChanged, this,
        [this](QTreeWidgetItem *current) { Guarded([&] { showSelectedEndpoint(current); }); });
    // A click on the node that is already selected brings its window back
    // too (after its window was minimised, say).
    connect(tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        Guarded([&] {
            if (item == tree->currentItem())
                showSelectedEndpoint(item);
        });
    });
    tree->dragOver
        = [this](QTreeWidgetItem *dragged, QTreeWidgetItem *target) { return canLink(dragged, target); };
    tree->dragDrop
        = [this](QTreeWidgetItem *dragged, QTreeWidgetItem *target) { linkDropped(dragged, target); };
}

void MainWindow::showSelectedEndpoint(QTreeWidgetItem *node)
{
    Endpoint *endpoint = endpointAt(node);
    if (!endpoint || !endpoints().contains(endpoint) || !endpoint->window)
        return;
    refreshStatus(*endpoint);
    endpoint->window->bringToFront();
}

void MainWindow::selectNodeOfWindow(QWidget *window)
{
    // The selected node always stands for the window in front, so the
    // commands act on the endpoint the user sees. With nothing in front the
    // selection stays.
    Endpoint *endpoint = controller_->endpointOfWindow(window);
    if (!endpoint || !endpoint->node)
        return;
    if (tree->currentItem() != endpoint->node)
        tree->setCurrentItem(endpoint->node);
}

bool MainWindow::canLink(QTreeWidgetItem *dragged, QTreeWidgetItem *target) const
{
    if (!target)
        return true;
    if (!dragged || target->text(0) == dragged->text(0))
        return false;
    const Endpoint *to = endpointAt(target);
    const Endpoint *from = endpointAt(dragged);
    if (!to || !from)
        return false;
    return to->kind != from->kind;
}

void MainWindow::linkDropped(QTreeWidgetItem *dragged, QTreeWidgetItem *target)
{
    Endpoint *from = endpointAt(dragged);
    Endpoint *to = endpointAt(target);
    if (!dragged || !target || !to || !from)
        return;
    linkEndpoints(*to, *from);
    ShowMessage(QStringLiteral("监听管道已经建立!"));
}

void MainWindow::quit()
{
    // A repeat running under this click would otherwise go on, back to back,
    // until the application gets round to ending.
    controller_->endAllSending();
    QCoreApplication::exit(0);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    Guarded([this] { stopListeningServers(); });
    event->accept();
}

void MainWindow::showInfoPanel(bool show)
{
    documentStack_->setCurrentWidget(
        show ? static_cast<QWidget *>(infoPanel) : static_cast<QWidget *>(documents));
}

bool MainWindow::isInfoPanelShown() const
{
    return documentStack_->currentWidget() == infoPanel;
}

std::unique_ptr<MainWindow> StartPortwright()
{
    SetExceptionReporter([](const std::exception &e) { ShowException(e); });
    auto window = std::make_unique<MainWindow>();
    window->show();
    window->createDialogs();
    return window;
}

int RunPortwright(QApplication &app)
{
    const auto window = StartPortwright();
    return app.exec();
}

void MainWindow::createDialogs()
{
    if (!newTcpServerDialog)
        newTcpServerDialog = new NewTcpServerDialog(this);
    if (!newTcpClientDialog)
        newTcpClientDialog = new NewTcpClientDialog(this);
    if (!newUdpClientDialog)
        newUdpClientDialog = new NewUdpClientDialog(this);
    if (!newUdpGroupDialog)
        newUdpGroupDialog = new NewUdpGroupDialog(this);
    if (!newUdpServerDialog)
        newUdpServerDialog = new NewUdpServerDialog(this);
}

void MainWindow::createForSelectedKind()
{
    if (!tree->currentItem())
        return;
    if (QTreeWidgetItem *parent = tree->currentItem()->parent())
        tree->setCurrentItem(parent);
    // Each comparison reads the selection afresh: after a set-up the new
    // endpoint's node is selected, so one click creates one endpoint at most.
    const auto selected
        = [this](EndpointKind kind) { return tree->currentItem() && tree->currentItem()->text(0) == kindLabel(kind); };
    createDialogs();
    if (selected(EndpointKind::TcpServer) && RunModal(*newTcpServerDialog) == CreationDialog::Created)
        controller_->createTcpServer(newTcpServerDialog->port);
    if (selected(EndpointKind::TcpClient) && RunModal(*newTcpClientDialog) == CreationDialog::Created)
        controller_->createTcpClient(newTcpClientDialog->address, newTcpClientDialog->port);
    if (selected(EndpointKind::UdpClient) && RunModal(*newUdpClientDialog) == CreationDialog::Created)
        controller_->createUdpClient(
            newUdpClientDialog->address, newUdpClientDialog->remotePort, newUdpClientDialog->localPort);
    if (selected(EndpointKind::UdpServer) && RunModal(*newUdpServerDialog) == CreationDialog::Created)
        controller_->createUdpServer(newUdpServerDialog->localPort);
    if (selected(EndpointKind::UdpGroup) && RunModal(*newUdpGroupDialog) == CreationDialog::Created)
        controller_->createUdpGroup(newUdpGroupDialog->groupAddress, newUdpGroupDialog->groupPort);
    if (endpoints().size() > 0)
        showInfoPanel(false);
}

void MainWindow::deleteSelected()
{
    Endpoint *endpoint = endpointAt(tree->currentItem());
    if (!endpoint || !endpoints().contains(endpoint))
        return;
    if (endpoint->kind == EndpointKind::TcpAcceptedPeer) {
        // Its disconnection removes the endpoint.
        if (auto *connection = endpoint->peerConnection())
            connection->Close();
        return;
    }
    if (endpoint->kind == EndpointKind::TcpClient) {
        // A connected client's disconnection runs first, as it would on its own.
        if (auto *client = endpoint->tcpClient())
            client->Connection()->Close();
        if (!endpoints().contains(endpoint))
            return;
    }
    controller_->remove(endpoint);
    if (endpoints().size() == 0)
        showInfoPanel(true);
}

void MainWindow::stopSelected()
{
    Endpoint *endpoint = endpointAt(tree->currentItem());
    if (endpoint && endpoints().contains(endpoint))
        controller_->stop(*endpoint);
}

void MainWindow::stopListeningServers()
{
    // Nothing goes on sending once the window is closed, and each server
    // stops as the stop command stops it: its peers' endpoints go first, so
    // none is left listed on a connection that is gone.
    controller_->endAllSending();
    controller_->stopAllServers();
}
