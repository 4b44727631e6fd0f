#include "app/Unit1.h"

#include "app/endpointtree.h"
#include "app/refreshstatus.h"
#include "app/tcpevents.h"
#include "core/errors.h"
#include "datapanel/datapanel.h"
#include "net/tcp/tcpsocket.h"
#include "ui/documentarea.h"
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

TForm1 *Form1 = nullptr;

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

TForm1::TForm1(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Portwright V2.5"));
    setMinimumSize(125, 50);
    setMaximumSize(1024, 734);
    resize(717, 541);

    buildStrip();
    buildTree();

    Panel3 = new TInfoPanel;
    Documents = new TDocumentArea;
    connect(Documents, &TDocumentArea::activeDocumentChanged, this,
        [this](QWidget *front) { Guarded([&] { selectNodeOfWindow(front); }); });
    auto *documentArea = new QWidget;
    documentStack_ = new QStackedLayout(documentArea);
    documentStack_->addWidget(Documents);
    documentStack_->addWidget(Panel3);
    documentStack_->setCurrentWidget(Panel3);

    Splitter1 = new QSplitter(Qt::Horizontal);
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->addWidget(Panel2);
    Splitter1->addWidget(documentArea);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({183, 534});

    auto *central = new QWidget;
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(Panel1);
    column->addWidget(Splitter1, 1);
    setCentralWidget(central);

    StatusBar1 = new QStatusBar;
    StatusBar1->showMessage(QStringLiteral("Portwright — portwright.example.org"));
    setStatusBar(StatusBar1);
    StatusBar1->hide();

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    FormCreate();
    Form1 = this;
}

TForm1::~TForm1()
{
    // The documents die after the endpoint list; none may reach it then.
    disconnect(Documents, nullptr, this, nullptr);
    // Transports and windows die with the window; none may report into a
    // record that is already gone.
    for (int i = 0; i < endpoints_->Count(); ++i)
        delete ReleaseTransport(*endpoints_->Items(i));
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::buildStrip()
{
    Panel1 = new QWidget;
    Panel1->setFixedHeight(35);
    paint(Panel1, QColor(135, 206, 235));
    auto *strip = new QHBoxLayout(Panel1);
    strip->setContentsMargins(0, 0, 0, 0);
    suiImagePanel1 = new QWidget(Panel1);
    suiImagePanel1->setObjectName(QStringLiteral("suiImagePanel1"));
    suiImagePanel1->setStyleSheet(
        QStringLiteral("#suiImagePanel1 { background-image: url(:/portwright/images/banner.jpg); }"));
    suiImagePanel1->setAttribute(Qt::WA_StyledBackground);
    strip->addWidget(suiImagePanel1);

    auto *buttons = new QHBoxLayout(suiImagePanel1);
    buttons->setContentsMargins(6, 4, 6, 4);
    Button1 = stripButton(QStringLiteral("创建"), 80, 27, suiImagePanel1);
    Button2 = stripButton(QStringLiteral("删除"), 80, 27, suiImagePanel1);
    Button5 = stripButton(QStringLiteral("启动"), 80, 27, suiImagePanel1);
    Button6 = stripButton(QStringLiteral("停止 "), 80, 27, suiImagePanel1);
    Button8 = stripButton(QStringLiteral("退出"), 80, 26, suiImagePanel1);
    Button5->setFlat(true);
    Button6->setFlat(true);
    Button5->hide();
    Button6->hide();
    for (QPushButton *b : {Button1, Button2, Button5, Button6, Button8})
        buttons->addWidget(b);
    buttons->addStretch(1);

    onClick(Button1, this, [this] { Button1Click(); });
    onClick(Button2, this, [this] { Button2Click(); });
    onClick(Button6, this, [this] { Button6Click(); });
    onClick(Button8, this, [this] { Button8Click(); });
}

void TForm1::buildTree()
{
    Panel2 = new QWidget;
    Panel2->setMinimumWidth(40);
    auto *layout = new QVBoxLayout(Panel2);
    layout->setContentsMargins(0, 0, 0, 0);
    TreeView1 = new TEndpointTree(Panel2);
    layout->addWidget(TreeView1);
    TreeView1->setHeaderHidden(true);
    TreeView1->setIndentation(19);
    TreeView1->setRootIsDecorated(false);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setMouseTracking(true);
    TreeView1->setIconSize(QSize(16, 16));
    // Every row is one icon and one line of text. Asked of each row instead,
    // selecting a new peer's node measures the whole tree again, which made
    // a burst of 1,000 connects slow down as the tree grew.
    TreeView1->setUniformRowHeights(true);
    QPalette p = TreeView1->palette();
    p.setColor(QPalette::Base, QColor(251, 250, 240));
    // The selection stays visible when the tree loses focus.
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(
        QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    TreeView1->setPalette(p);

    for (const QString &kind : kindOrder) {
        auto *node = new QTreeWidgetItem(TreeView1, {kind});
        SetStateIndex(node, ImgKindNode);
    }

    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
        [this](QTreeWidgetItem *current) { Guarded([&] { TreeView1Change(current); }); });
    // A click on the node that is already selected brings its window back
    // too (after its window was minimised, say).
    connect(TreeView1, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        Guarded([&] {
            if (item == TreeView1->currentItem())
                TreeView1Change(item);
        });
    });
    TreeView1->dragOver = [this](QTreeWidgetItem *dragged, QTreeWidgetItem *target) {
        return TreeView1DragOver(dragged, target);
    };
    TreeView1->dragDrop
        = [this](QTreeWidgetItem *dragged, QTreeWidgetItem *target) { TreeView1DragDrop(dragged, target); };
}

QTreeWidgetItem *TForm1::KindNode(const QString &kind) const
{
    for (int i = 0; i < TreeView1->topLevelItemCount(); ++i)
        if (TreeView1->topLevelItem(i)->text(0) == kind)
            return TreeView1->topLevelItem(i);
    return nullptr;
}

void TForm1::FormCreate()
{
    endpoints_ = std::make_unique<TEndpointList>();
}

void TForm1::TreeView1Change(QTreeWidgetItem *node)
{
    TMySocket *endpoint = EndpointOf(node);
    if (!endpoint || !endpoints_->Contains(endpoint) || !endpoint->DataForm)
        return;
    RefreshStatus(*endpoint);
    endpoint->DataForm->BringToFront();
}

void TForm1::selectNodeOfWindow(QWidget *window)
{
    // The selected node always stands for the window in front, so the
    // commands act on the endpoint the user sees. With nothing in front the
    // selection stays.
    const auto *data = qobject_cast<TFrmData *>(window);
    TMySocket *endpoint = data ? data->Endpoint : nullptr;
    if (!endpoint || !endpoints_->Contains(endpoint) || !endpoint->Node)
        return;
    if (TreeView1->currentItem() != endpoint->Node)
        TreeView1->setCurrentItem(endpoint->Node);
}

bool TForm1::TreeView1DragOver(QTreeWidgetItem *dragged, QTreeWidgetItem *target) const
{
    if (!target)
        return true;
    if (!dragged || target->text(0) == dragged->text(0))
        return false;
    const TMySocket *to = EndpointOf(target);
    const TMySocket *from = EndpointOf(dragged);
    if (!to || !from)
        return false;
    return to->Kind != from->Kind;
}

void TForm1::TreeView1DragDrop(QTreeWidgetItem *dragged, QTreeWidgetItem *target)
{
    TMySocket *from = EndpointOf(dragged);
    TMySocket *to = EndpointOf(target);
    if (!dragged || !target || !to || !from)
        return;
    LinkEndpoints(*to, *from);
    ShowMessage(QStringLiteral("监听管道已经建立!"));
}

void TForm1::Button8Click()
{
    // A repeat running under this click would otherwise go on, back to back,
    // until the application gets round to ending.
    endAllSending();
    QCoreApplication::exit(0);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    Guarded([this] { FormClose(); });
    event->accept();
}

TMySocket *TForm1::AttachEndpointNode(std::unique_ptr<TMySocket> record, const QString &text, int stateImage)
{
    // Under the kind node, not under whatever is selected now: a peer that
    // arrived while the creation dialog was open has taken the selection.
    QTreeWidgetItem *parent = KindNode(record->Kind);
    auto *node = new QTreeWidgetItem(parent, {text});
    parent->setExpanded(true);
    TMySocket *endpoint = record.get();
    SetEndpointOf(node, endpoint);
    SetStateIndex(node, stateImage);
    endpoint->Node = node;
    TreeView1->setCurrentItem(node);
    RefreshStatus(*endpoint);
    endpoints_->Add(std::move(record));
    return endpoint;
}

void TForm1::ShowInfoPanel(bool show)
{
    documentStack_->setCurrentWidget(
        show ? static_cast<QWidget *>(Panel3) : static_cast<QWidget *>(Documents));
}

bool TForm1::InfoPanelShown() const
{
    return documentStack_->currentWidget() == Panel3;
}

std::unique_ptr<TForm1> StartPortwright()
{
    SetExceptionReporter([](const std::exception &e) { ShowException(e); });
    auto window = std::make_unique<TForm1>();
    window->show();
    window->CreateDialogs();
    return window;
}

int RunPortwright(QApplication &app)
{
    const auto window = StartPortwright();
    return app.exec();
}

void TForm1::FormClose()
{
    endAllSending();
    // Each server stops as the stop command stops it: its peers' endpoints
    // go first, so none is left listed on a connection that is gone. A
    // monitoring pipe may stop or remove other endpoints on the way.
    std::vector<TMySocket *> servers;
    for (int i = 0; i < endpoints_->Count(); ++i)
        if (endpoints_->Items(i)->Kind == Kinds::TcpServer)
            servers.push_back(endpoints_->Items(i));
    for (TMySocket *server : servers)
        if (endpoints_->Contains(server))
            StopServer(*server);
}

void TForm1::endAllSending()
{
    for (int i = 0; i < endpoints_->Count(); ++i)
        if (TFrmData *window = endpoints_->Items(i)->DataForm)
            window->EndSending();
}
