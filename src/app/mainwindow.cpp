#include "app/mainwindow.h"

#include "app/refreshstatus.h"
#include "app/tcpevents.h"
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

const QStringList kindOrder
    = {Kinds::TcpServer, Kinds::TcpClient, Kinds::UdpServer, Kinds::UdpClient, Kinds::UdpGroup};

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

    createEndpointList();
}

MainWindow::~MainWindow()
{
    // The documents die after the endpoint list; none may reach it then.
    disconnect(documents, nullptr, this, nullptr);
    // Transports and windows die with the window; none may report into a
    // record that is already gone.
    for (int i = 0; i < endpoints_->size(); ++i)
        delete ReleaseTransport(*endpoints_->at(i));
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

    for (const QString &kind : kindOrder) {
        auto *node = new QTreeWidgetItem(tree, {kind});
        SetStateIndex(node, ImgKindNode);
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

QTreeWidgetItem *MainWindow::kindNode(const QString &kind) const
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == kind)
            return tree->topLevelItem(i);
    return nullptr;
}

void MainWindow::createEndpointList()
{
    endpoints_ = std::make_unique<EndpointList>();
}

void MainWindow::showSelectedEndpoint(QTreeWidgetItem *node)
{
    Endpoint *endpoint = EndpointOf(node);
    if (!endpoint || !endpoints_->contains(endpoint) || !endpoint->window)
        return;
    RefreshStatus(*endpoint);
    endpoint->window->bringToFront();
}

void MainWindow::selectNodeOfWindow(QWidget *window)
{
    // The selected node always stands for the window in front, so the
    // commands act on the endpoint the user sees. With nothing in front the
    // selection stays.
    const auto *data = qobject_cast<DataWindow *>(window);
    Endpoint *endpoint = data ? data->attachedEndpoint : nullptr;
    if (!endpoint || !endpoints_->contains(endpoint) || !endpoint->node)
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
    const Endpoint *to = EndpointOf(target);
    const Endpoint *from = EndpointOf(dragged);
    if (!to || !from)
        return false;
    return to->kind != from->kind;
}

void MainWindow::linkDropped(QTreeWidgetItem *dragged, QTreeWidgetItem *target)
{
    Endpoint *from = EndpointOf(dragged);
    Endpoint *to = EndpointOf(target);
    if (!dragged || !target || !to || !from)
        return;
    LinkEndpoints(*to, *from);
    ShowMessage(QStringLiteral("监听管道已经建立!"));
}

void MainWindow::quit()
{
    // A repeat running under this click would otherwise go on, back to back,
    // until the application gets round to ending.
    endAllSending();
    QCoreApplication::exit(0);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    Guarded([this] { stopListeningServers(); });
    event->accept();
}

Endpoint *MainWindow::attach(std::unique_ptr<Endpoint> record, const QString &text, int stateImage)
{
    // Under the kind node, not under whatever is selected now: a peer that
    // arrived while the creation dialog was open has taken the selection.
    QTreeWidgetItem *parent = kindNode(record->kind);
    auto *node = new QTreeWidgetItem(parent, {text});
    parent->setExpanded(true);
    Endpoint *endpoint = record.get();
    SetEndpointOf(node, endpoint);
    SetStateIndex(node, stateImage);
    endpoint->node = node;
    tree->setCurrentItem(node);
    RefreshStatus(*endpoint);
    endpoints_->add(std::move(record));
    return endpoint;
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

void MainWindow::stopListeningServers()
{
    endAllSending();
    // Each server stops as the stop command stops it: its peers' endpoints
    // go first, so none is left listed on a connection that is gone. A
    // monitoring pipe may stop or remove other endpoints on the way.
    std::vector<Endpoint *> servers;
    for (int i = 0; i < endpoints_->size(); ++i)
        if (endpoints_->at(i)->kind == Kinds::TcpServer)
            servers.push_back(endpoints_->at(i));
    for (Endpoint *server : servers)
        if (endpoints_->contains(server))
            StopServer(*this, *server);
}

void MainWindow::endAllSending()
{
    for (int i = 0; i < endpoints_->size(); ++i)
        if (DataWindow *window = endpoints_->at(i)->window)
            window->endSending();
}
