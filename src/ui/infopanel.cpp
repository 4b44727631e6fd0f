#include "ui/infopanel.h"

#include "core/errors.h"
#include "ui/messages.h"
#include "ui/palette.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

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

    tcpStrip = productStrip(tcpPicture, tcpTitle, tcpFeatures, QStringLiteral(":/portwright/images/tcp.jpg"),
        QStringLiteral("Portwright TCP 调试"),
        {QStringLiteral("·TCP Server: 监听端口, 每个接入的客户端一个窗口"),
            QStringLiteral("·TCP Client: 连接任意地址和端口"),
            QStringLiteral("·十六进制收发, 重复发送, 定时发送, 字节统计"),
            QStringLiteral("·Web服务应答与监听管道")});
    tcpStrip->setFixedHeight(184);
    layout->addWidget(tcpStrip);

    udpStrip = productStrip(udpPicture, udpTitle, udpFeatures, QStringLiteral(":/portwright/images/udp.jpg"),
        QStringLiteral("Portwright UDP 调试"),
        {QStringLiteral("·UDP Server: 应答最后一个发送方"),
            QStringLiteral("·UDP Client: 指定目标地址, 可选广播地址"),
            QStringLiteral("·UDP 组播: 加入组播地址收发"),
            QStringLiteral("·UDP 与串口 com1 之间的数据转发")});
    layout->addWidget(udpStrip, 1);

    vendorStrip = new QWidget(this);
    vendorStrip->setFixedHeight(63);
    paintBackground(vendorStrip, Colours::Cream, {QPalette::Window, QPalette::Base});
    auto *vendor = new QHBoxLayout(vendorStrip);
    vendorLogo = new QLabel(vendorStrip);
    vendorLogo->setPixmap(QPixmap(QStringLiteral(":/portwright/images/logo.jpg")));
    vendorLogo->setScaledContents(true);
    vendorLogo->setFixedSize(28, 30);
    vendorTitle
        = titleLabel(QStringLiteral("Portwright — 网络与串口调试工具  portwright.example.org"), vendorStrip);
    vendor->addWidget(vendorTitle, 1);
    vendor->addWidget(vendorLogo);
    layout->addWidget(vendorStrip);

    for (QWidget *w : {static_cast<QWidget *>(tcpPicture), static_cast<QWidget *>(udpPicture),
             static_cast<QWidget *>(tcpTitle), static_cast<QWidget *>(udpTitle),
             static_cast<QWidget *>(vendorTitle), static_cast<QWidget *>(vendorLogo)})
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
        if (watched == tcpTitle || watched == tcpPicture)
            openTcpPage();
        else if (watched == udpTitle || watched == udpPicture)
            openUdpPage();
        else if (watched == vendorTitle || watched == vendorLogo)
            openHomePage();
    });
    return true;
}
