#include "ui/infopanel.h"

#include "core/errors.h"
#include "ui/messages.h"
#include "ui/palette.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <utility>

const QString InfoPanel::TcpPage = QStringLiteral("https://portwright.example.org/tcp");
const QString InfoPanel::UdpPage = QStringLiteral("https://portwright.example.org/udp");
const QString InfoPanel::HomePage = QStringLiteral("https://portwright.example.org/");

// The pictures are compiled into a static library, whose resources must be
// registered by hand.
void InitPictures()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(done);
}

namespace {

QLabel *titleLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color: blue; font-weight: bold;"));
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

} // namespace

InfoPanel::InfoPanel(QWidget *parent)
    : QWidget(parent)
{
    InitPictures();
    paintBackground(this, Colours::Cream, {QPalette::Window, QPalette::Base});
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);

    tcpStrip_ = productStrip(tcpPicture_, tcpTitle_, tcpFeatures_,
        QStringLiteral(":/portwright/images/tcp.jpg"), tr("Portwright TCP 调试"),
        {tr("·TCP Server: 监听端口, 每个接入的客户端一个窗口"), tr("·TCP Client: 连接任意地址和端口"),
            tr("·十六进制收发, 重复发送, 定时发送, 字节统计"), tr("·Web服务应答与监听管道")});
    tcpStrip_->setFixedHeight(184);
    layout->addWidget(tcpStrip_);

    udpStrip_ = productStrip(udpPicture_, udpTitle_, udpFeatures_,
        QStringLiteral(":/portwright/images/udp.jpg"), tr("Portwright UDP 调试"),
        {tr("·UDP Server: 应答最后一个发送方"), tr("·UDP Client: 指定目标地址, 可选广播地址"),
            tr("·UDP 组播: 加入组播地址收发"), tr("·UDP 与串口 com1 之间的数据转发")});
    layout->addWidget(udpStrip_, 1);

    vendorStrip_ = new QWidget(this);
    vendorStrip_->setFixedHeight(63);
    paintBackground(vendorStrip_, Colours::Cream, {QPalette::Window, QPalette::Base});
    auto *vendor = new QHBoxLayout(vendorStrip_);
    vendorLogo_ = new QLabel(vendorStrip_);
    vendorLogo_->setPixmap(QPixmap(QStringLiteral(":/portwright/images/logo.jpg")));
    vendorLogo_->setScaledContents(true);
    vendorLogo_->setFixedSize(28, 30);
    vendorTitle_ = titleLabel(tr("Portwright — 网络与串口调试工具  portwright.example.org"), vendorStrip_);
    vendor->addWidget(vendorTitle_, 1);
    vendor->addWidget(vendorLogo_);
    layout->addWidget(vendorStrip_);

    const std::pair<QWidget *, const char *> names[] = {{tcpStrip_, "tcpStrip"}, {udpStrip_, "udpStrip"},
        {vendorStrip_, "vendorStrip"}, {tcpPicture_, "tcpPicture"}, {udpPicture_, "udpPicture"},
        {vendorLogo_, "vendorLogo"}, {tcpTitle_, "tcpTitle"}, {udpTitle_, "udpTitle"},
        {vendorTitle_, "vendorTitle"}, {tcpFeatures_, "tcpFeatures"}, {udpFeatures_, "udpFeatures"}};
    for (const auto &[widget, name] : names)
        widget->setObjectName(QString::fromLatin1(name));

    for (QWidget *w : {static_cast<QWidget *>(tcpPicture_), static_cast<QWidget *>(udpPicture_),
             static_cast<QWidget *>(tcpTitle_), static_cast<QWidget *>(udpTitle_),
             static_cast<QWidget *>(vendorTitle_), static_cast<QWidget *>(vendorLogo_)})
        w->installEventFilter(this);
}

QWidget *InfoPanel::productStrip(QLabel *&image, QLabel *&title, QPlainTextEdit *&features,
    const QString &picture, const QString &heading, const QStringList &lines)
{
    auto *strip = new QWidget(this);
    paintBackground(strip, Qt::white, {QPalette::Window, QPalette::Base});
    auto *row = new QHBoxLayout(strip);
    image = new QLabel(strip);
    image->setPixmap(QPixmap(picture));
    image->setFixedSize(144, 128);
    image->setCursor(Qt::PointingHandCursor);
    row->addWidget(image, 0, Qt::AlignTop);
    auto *column = new QVBoxLayout;
    title = titleLabel(heading, strip);
    column->addWidget(title);
    features = new QPlainTextEdit(strip);
    features->setReadOnly(true);
    features->setFrameShape(QFrame::NoFrame);
    features->setPlainText(lines.join(QLatin1Char('\n')));
    paintBackground(features, Qt::white, {QPalette::Window, QPalette::Base});
    column->addWidget(features, 1);
    row->addLayout(column, 1);
    return strip;
}

void InfoPanel::openTcpPage()
{
    OpenWebAddress(TcpPage);
}

void InfoPanel::openUdpPage()
{
    OpenWebAddress(UdpPage);
}

void InfoPanel::openHomePage()
{
    OpenWebAddress(HomePage);
}

bool InfoPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseButtonRelease)
        return QWidget::eventFilter(watched, event);
    Guarded([&] {
        if (watched == tcpTitle_ || watched == tcpPicture_)
            openTcpPage();
        else if (watched == udpTitle_ || watched == udpPicture_)
            openUdpPage();
        else if (watched == vendorTitle_ || watched == vendorLogo_)
            openHomePage();
    });
    return true;
}
