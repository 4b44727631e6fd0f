#include "app/mainwindow.h"

#include "app/dialogs/newserialportdialog.h"
#include "app/dialogs/newtcpclientdialog.h"
#include "app/dialogs/newtcpserverdialog.h"
#include "app/dialogs/newudpclientdialog.h"
#include "app/dialogs/newudpgroupdialog.h"
#include "app/dialogs/newudpserverdialog.h"
#include "app/endpointviews.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/workspacesetup.h"
#include "net/descriptorlimit.h"
#include "session/workspacefile.h"

#include "core/errors.h"
#include "ui/documentarea.h"
#include "ui/endpointtree.h"
#include "ui/infopanel.h"
#include "ui/messages.h"
#include "ui/palette.h"
#include "ui/stateimages.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStackedLayout>
#include <QStatusBar>

namespace {

constexpr EndpointKind kindOrder[] = {EndpointKind::TcpServer, EndpointKind::TcpClient,
    EndpointKind::UdpServer, EndpointKind::UdpClient, EndpointKind::UdpGroup, EndpointKind::SerialPort};

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
    , serialDeviceLister_([] { return listSerialDevices(); })
{
    setWindowTitle(QStringLiteral("Portwright V2.5"));
    setMinimumSize(125, 50);
    setMaximumSize(1024, 734);
    resize(717, 541);

    buildStrip();
    buildTree();

    infoPanel_ = new InfoPanel;
    infoPanel_->setObjectName(QStringLiteral("infoPanel"));
    documents_ = new DocumentArea;
    documents_->setObjectName(QStringLiteral("documents"));
    connect(documents_, &DocumentArea::activeDocumentChanged, this,
        [this](QWidget *front) { Guarded([&] { views_->selectNodeOfWindow(front); }); });
    auto *documentArea = new QWidget;
    documentStack_ = new QStackedLayout(documentArea);
    documentStack_->addWidget(documents_);
    documentStack_->addWidget(infoPanel_);
    documentStack_->setCurrentWidget(infoPanel_);

    splitter_ = new QSplitter(Qt::Horizontal);
    splitter_->setObjectName(QStringLiteral("splitter"));
    splitter_->setHandleWidth(3);
    splitter_->setChildrenCollapsible(false);
    splitter_->addWidget(treePanel_);
    splitter_->addWidget(documentArea);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({183, 534});

    auto *central = new QWidget;
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(commandStrip_);
    column->addWidget(splitter_, 1);
    setCentralWidget(central);

    statusBar_ = new QStatusBar;
    statusBar_->setObjectName(QStringLiteral("statusBar"));
    statusBar_->showMessage(QStringLiteral("Portwright — portwright.example.org"));
    setStatusBar(statusBar_);
    statusBar_->hide();

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    controller_ = std::make_unique<EndpointController>();
    views_ = std::make_unique<EndpointViews>(*controller_, *tree_, *documents_);
    buildWorkspaceCommands();
}

MainWindow::~MainWindow()
{
    // The documents_ die after the endpoint list; none may reach it then.
    disconnect(documents_, nullptr, this, nullptr);
    // The controller asks its views whether a server's web reply is on:
    // it goes first.
    controller_.reset();
    views_.reset();
}

EndpointList &MainWindow::endpoints()
{
    return controller_->endpoints();
}

QTreeWidgetItem *MainWindow::kindNode(EndpointKind kind) const
{
    return views_->kindNode(kind);
}

void MainWindow::buildStrip()
{
    commandStrip_ = new QWidget;
    commandStrip_->setObjectName(QStringLiteral("commandStrip"));
    commandStrip_->setFixedHeight(35);
    paintBackground(commandStrip_, QColor(135, 206, 235));
    auto *strip = new QHBoxLayout(commandStrip_);
    strip->setContentsMargins(0, 0, 0, 0);
    banner_ = new QWidget(commandStrip_);
    banner_->setObjectName(QStringLiteral("banner"));
    banner_->setStyleSheet(
        QStringLiteral("#banner { background-image: url(:/portwright/images/banner.jpg); }"));
    banner_->setAttribute(Qt::WA_StyledBackground);
    strip->addWidget(banner_);

    auto *buttons = new QHBoxLayout(banner_);
    buttons->setContentsMargins(6, 4, 6, 4);
    createButton_ = stripButton(tr("创建"), 80, 27, banner_);
    createButton_->setObjectName(QStringLiteral("createButton"));
    deleteButton_ = stripButton(tr("删除"), 80, 27, banner_);
    deleteButton_->setObjectName(QStringLiteral("deleteButton"));
    startCommandButton_ = stripButton(tr("启动"), 80, 27, banner_);
    startCommandButton_->setObjectName(QStringLiteral("startCommandButton"));
    stopCommandButton_ = stripButton(tr("停止 "), 80, 27, banner_);
    stopCommandButton_->setObjectName(QStringLiteral("stopCommandButton"));
    exitButton_ = stripButton(tr("退出"), 80, 26, banner_);
    exitButton_->setObjectName(QStringLiteral("exitButton"));
    startCommandButton_->setFlat(true);
    stopCommandButton_->setFlat(true);
    startCommandButton_->hide();
    stopCommandButton_->hide();
    for (QPushButton *b :
        {createButton_, deleteButton_, startCommandButton_, stopCommandButton_, exitButton_})
        buttons->addWidget(b);
    buttons->addStretch(1);

    onClick(createButton_, this, [this] { createForSelectedKind(); });
    onClick(deleteButton_, this, [this] { deleteSelected(); });
    onClick(stopCommandButton_, this, [this] { stopSelected(); });
    onClick(exitButton_, this, [this] { quit(); });
}

void MainWindow::buildTree()
{
    treePanel_ = new QWidget;
    treePanel_->setObjectName(QStringLiteral("treePanel"));
    treePanel_->setMinimumWidth(40);
    auto *layout = new QVBoxLayout(treePanel_);
    layout->setContentsMargins(0, 0, 0, 0);
    tree_ = new EndpointTree(treePanel_);
    tree_->setObjectName(QStringLiteral("tree"));
    // No caption names it on screen; assistive technologies need a name.
    tree_->setAccessibleName(tr("端点"));
    layout->addWidget(tree_);
    tree_->setHeaderHidden(true);
    tree_->setIndentation(19);
    tree_->setRootIsDecorated(false);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->setMouseTracking(true);
    tree_->setIconSize(QSize(16, 16));
    // Every row is one icon and one line of text. Asked of each row instead,
    // selecting a new peer's node measures the whole tree_ again, which made
    // a burst of 1,000 connects slow down as the tree_ grew.
    tree_->setUniformRowHeights(true);
    QPalette p = tree_->palette();
    p.setColor(QPalette::Base, QColor(251, 250, 240));
    // The selection stays visible when the tree_ loses focus.
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(
        QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    tree_->setPalette(p);

    for (const EndpointKind kind : kindOrder) {
        auto *node = new QTreeWidgetItem(tree_, {kindLabel(kind)});
        setNodeImage(node, NodeImage::KindNode);
    }

    connect(tree_, &QTreeWidget::currentItemChanged, this,
        [this](QTreeWidgetItem *current) { Guarded([&] { showSelectedEndpoint(current); }); });
    // A click on the node that is already selected brings its window back
    // too (after its window was minimised, say).
    connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        Guarded([&] {
            if (item == tree_->currentItem())
                showSelectedEndpoint(item);
        });
    });
    tree_->setLinkRule(
        [this](QTreeWidgetItem *dragged, QTreeWidgetItem *target) { return canLink(dragged, target); });
    connect(tree_, &EndpointTree::linkRequested, this, &MainWindow::linkDropped);
}

void MainWindow::buildWorkspaceCommands()
{
    saveWorkspaceAction_ = new QAction(tr("保存工作区..."), this);
    saveWorkspaceAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(saveWorkspaceAction_, &QAction::triggered, this,
        [this] { Guarded([this] { askToSaveWorkspace(); }); });
    openWorkspaceAction_ = new QAction(tr("打开工作区..."), this);
    openWorkspaceAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(openWorkspaceAction_, &QAction::triggered, this,
        [this] { Guarded([this] { askToOpenWorkspace(); }); });
    // Added to the window, the shortcuts work wherever its focus is.
    addAction(saveWorkspaceAction_);
    addAction(openWorkspaceAction_);
    tree_->setMenuActions({saveWorkspaceAction_, openWorkspaceAction_});

    workspaceReader_ = new WorkspaceFileReader(this);
    connect(workspaceReader_, &WorkspaceFileReader::failed, this,
        [](const QString &message) { ShowMessage(message); });
    connect(workspaceReader_, &WorkspaceFileReader::loaded, this, [this](const Workspace &workspace) {
        Guarded([&] {
            if (endpoints().size() == 0) {
                replaceEndpointsWith(workspace);
                return;
            }
            auto *question = new QMessageBox(QMessageBox::Question, tr("打开工作区"),
                tr("打开工作区将关闭现有的全部端点，是否继续？"), QMessageBox::Yes | QMessageBox::No, this);
            question->setDefaultButton(QMessageBox::No);
            const QPointer<QMessageBox> asked(question);
            OpenDialog(question, this, [this, asked, workspace](int) {
                if (asked && asked->clickedButton() == asked->button(QMessageBox::Yes))
                    replaceEndpointsWith(workspace);
            });
        });
    });
}

QString MainWindow::suggestedWorkspacePath() const
{
    return workspacePath_.isEmpty() ? QDir::home().filePath(QStringLiteral("workspace.portwright"))
                                    : workspacePath_;
}

void MainWindow::askToSaveWorkspace()
{
    AskFileNameThen(
        FileDialogKind::Save, tr("保存工作区"), suggestedWorkspacePath(), this,
        [this](const QString &path) {
            QString error;
            if (saveWorkspaceFile(path, workspaceOf(*controller_), &error))
                workspacePath_ = path;
            else
                ShowMessage(error);
        },
        tr("Portwright 工作区 (*.portwright);;所有文件 (*)"));
}

void MainWindow::askToOpenWorkspace()
{
    AskFileNameThen(
        FileDialogKind::Open, tr("打开工作区"), suggestedWorkspacePath(), this,
        [this](const QString &path) { openWorkspaceFile(path); },
        tr("Portwright 工作区 (*.portwright);;所有文件 (*)"));
}

void MainWindow::openWorkspaceFile(const QString &path)
{
    workspacePath_ = path;
    workspaceReader_->open(path);
}

void MainWindow::replaceEndpointsWith(const Workspace &workspace)
{
    // Accepted peers go with their servers.
    std::vector<Endpoint *> made;
    for (Endpoint *endpoint : endpoints())
        if (endpoint->kind != EndpointKind::TcpAcceptedPeer)
            made.push_back(endpoint);
    for (Endpoint *endpoint : made)
        if (endpoints().contains(endpoint))
            controller_->remove(endpoint);
    openWorkspace(*controller_, workspace);
    showDocumentsIfAny();
    if (endpoints().size() == 0)
        showInfoPanel(true);
}

void MainWindow::showSelectedEndpoint(QTreeWidgetItem *node)
{
    views_->showEndpointAt(node);
}

bool MainWindow::canLink(QTreeWidgetItem *dragged, QTreeWidgetItem *target) const
{
    return views_->canLink(dragged, target);
}

void MainWindow::linkDropped(QTreeWidgetItem *dragged, QTreeWidgetItem *target)
{
    views_->linkDropped(dragged, target);
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
        show ? static_cast<QWidget *>(infoPanel_) : static_cast<QWidget *>(documents_));
}

bool MainWindow::isInfoPanelShown() const
{
    return documentStack_->currentWidget() == infoPanel_;
}

std::unique_ptr<MainWindow> StartPortwright()
{
    SetExceptionReporter([](const std::exception &e) { ShowException(e); });
    raiseDescriptorLimit();
    auto window = std::make_unique<MainWindow>();
    window->show();
    window->createDialogs();
    return window;
}

int RunPortwright(QApplication &app, const QString &workspace)
{
    const auto window = StartPortwright();
    // Read from the event loop, as when the user opens it; the window is up
    // meanwhile.
    if (!workspace.isEmpty())
        window->openWorkspaceFile(workspace);
    return app.exec();
}

namespace {

template <class Dialog> void makeOnce(Dialog *&dialog, const char *name, QWidget *parent)
{
    if (dialog)
        return;
    dialog = new Dialog(parent);
    dialog->setObjectName(QLatin1String(name));
}

} // namespace

void MainWindow::createDialogs()
{
    makeOnce(newTcpServerDialog_, "newTcpServerDialog", this);
    makeOnce(newTcpClientDialog_, "newTcpClientDialog", this);
    makeOnce(newUdpClientDialog_, "newUdpClientDialog", this);
    makeOnce(newUdpGroupDialog_, "newUdpGroupDialog", this);
    makeOnce(newUdpServerDialog_, "newUdpServerDialog", this);
    if (!newSerialPortDialog_) {
        // Through the window's lister as it is when the box lists, so that
        // one set after the dialog was made still counts.
        newSerialPortDialog_ = new NewSerialPortDialog([this] { return serialDeviceLister_(); }, this);
        newSerialPortDialog_->setObjectName(QStringLiteral("newSerialPortDialog"));
    }
}

void MainWindow::createForSelectedKind()
{
    if (!tree_->currentItem())
        return;
    if (QTreeWidgetItem *parent = tree_->currentItem()->parent())
        tree_->setCurrentItem(parent);
    const QString selected = tree_->currentItem()->text(0);
    createDialogs();
    // The kind is the one selected now: by the time the dialog is answered
    // a peer may have arrived and taken the selection.
    if (selected == kindLabel(EndpointKind::TcpServer)) {
        openCreationDialog(
            newTcpServerDialog_, [this] { controller_->createTcpServer(newTcpServerDialog_->port()); });
    } else if (selected == kindLabel(EndpointKind::TcpClient)) {
        openCreationDialog(newTcpClientDialog_, [this] {
            controller_->createTcpClient(newTcpClientDialog_->address(), newTcpClientDialog_->port());
        });
    } else if (selected == kindLabel(EndpointKind::UdpClient)) {
        openCreationDialog(newUdpClientDialog_, [this] {
            controller_->createUdpClient(newUdpClientDialog_->address(), newUdpClientDialog_->remotePort(),
                newUdpClientDialog_->localPort());
        });
    } else if (selected == kindLabel(EndpointKind::UdpServer)) {
        openCreationDialog(
            newUdpServerDialog_, [this] { controller_->createUdpServer(newUdpServerDialog_->localPort()); });
    } else if (selected == kindLabel(EndpointKind::UdpGroup)) {
        openCreationDialog(newUdpGroupDialog_, [this] {
            controller_->createUdpGroup(newUdpGroupDialog_->groupAddress(), newUdpGroupDialog_->groupPort());
        });
    } else if (selected == kindLabel(EndpointKind::SerialPort)) {
        openCreationDialog(
            newSerialPortDialog_, [this] { controller_->createSerialPort(newSerialPortDialog_->setup()); });
    } else {
        showDocumentsIfAny();
    }
}

void MainWindow::openCreationDialog(CreationDialog *dialog, std::function<void()> create)
{
    // The dialogs are children of this window: gone with it, they call
    // nothing. What they were typed into is read when OK is pressed.
    OpenDialog(
        dialog, this,
        [this, create = std::move(create)](int result) {
            if (result == CreationDialog::Created)
                create();
            showDocumentsIfAny();
        },
        AfterClose::Keep);
}

void MainWindow::showDocumentsIfAny()
{
    if (endpoints().size() > 0)
        showInfoPanel(false);
}

void MainWindow::deleteSelected()
{
    Endpoint *endpoint = views_->endpointOfNode(tree_->currentItem());
    if (endpoint && controller_->deleteByUser(endpoint) && endpoints().size() == 0)
        showInfoPanel(true);
}

void MainWindow::stopSelected()
{
    if (Endpoint *endpoint = views_->endpointOfNode(tree_->currentItem()))
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
