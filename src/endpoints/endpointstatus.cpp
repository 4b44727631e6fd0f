#include "endpoints/endpointstatus.h"

#include "endpoints/endpoint.h"
#include "datawindow/datawindow.h"

#include <QLabel>
#include <QPushButton>

namespace {

void setStateWord(QLabel *label, int state, const QString &on, const QString &off)
{
    if (state == 1)
        label->setText(on);
    else if (state == 0)
        label->setText(off);
}

void setEnabledByState(DataWindow &w, int state)
{
    if (state == 1) {
        w.startButton->setEnabled(false);
        w.stopButton->setEnabled(true);
    } else if (state == 0) {
        w.startButton->setEnabled(true);
        w.stopButton->setEnabled(false);
    }
}

QString number(int value)
{
    return QString::number(value);
}

void refreshServer(const Endpoint &r, DataWindow &w)
{
    setStateWord(w.stateLabel, r.state, QStringLiteral("已启动"), QStringLiteral("已停止"));
    w.createdLabel->setText(QStringLiteral("Socket服务器创建时间:") + r.createdText);
    w.peerAddressLabel->clear();
    w.peerPortLabel->clear();
    w.spareLabel->clear();
    w.localPortLabel->clear();
    w.startButton->setText(QStringLiteral("启动监听"));
    w.stopButton->setText(QStringLiteral("停止监听"));
    w.startButton->setVisible(true);
    w.stopButton->setVisible(true);
    w.localPortLabel->setText(QStringLiteral("本地端口:") + number(r.localPort));
    setEnabledByState(w, r.state);
}

// TCP ServerClient and TCP Client; only a client can connect again.
void refreshConnection(const Endpoint &r, DataWindow &w, bool canConnect)
{
    setStateWord(w.stateLabel, r.state, QStringLiteral("已连接"), QStringLiteral("已断开"));
    w.createdLabel->setText(QStringLiteral("Socket创建时间:") + r.createdText);
    w.peerAddressLabel->setText(QStringLiteral("对方IP:") + r.peerAddress);
    w.peerPortLabel->setText(QStringLiteral("对方端口:") + number(r.peerPort));
    w.spareLabel->clear();
    w.localPortLabel->setText(QStringLiteral("本地端口:") + number(r.localPort));
    w.startButton->setText(QStringLiteral("连接"));
    w.stopButton->setText(QStringLiteral("断开"));
    w.startButton->setVisible(canConnect);
    w.stopButton->setVisible(true);
    setEnabledByState(w, r.state);
}

void refreshDatagram(const Endpoint &r, DataWindow &w)
{
    w.stateLabel->clear();
    w.createdLabel->setText(QStringLiteral("Socket创建时间:") + r.createdText);
    w.peerAddressLabel->setText(QStringLiteral("对方IP:") + r.peerAddress);
    w.peerPortLabel->setText(QStringLiteral("对方端口:") + number(r.peerPort));
    w.spareLabel->clear();
    w.localPortLabel->setText(QStringLiteral("本地端口:") + number(r.localPort));
}

void refreshGroup(const Endpoint &r, DataWindow &w)
{
    w.stateLabel->clear();
    w.createdLabel->setText(QStringLiteral("Socket创建时间:") + r.createdText);
    w.peerAddressLabel->setText(QStringLiteral("组播地址:") + r.localAddress);
    w.peerPortLabel->setText(QStringLiteral("组播端口:") + number(r.localPort));
    w.spareLabel->clear();
    w.localPortLabel->clear();
}

} // namespace

void RefreshStatus(const Endpoint &record)
{
    DataWindow *window = record.window;
    if (!window)
        return;
    DataWindow &w = *window;
    w.startButton->setVisible(false);
    w.stopButton->setVisible(false);

    if (record.kind == Kinds::TcpServer)
        refreshServer(record, w);
    else if (record.kind == Kinds::TcpServerClient)
        refreshConnection(record, w, false);
    else if (record.kind == Kinds::TcpClient)
        refreshConnection(record, w, true);
    else if (record.kind == Kinds::UdpClient || record.kind == Kinds::UdpServer)
        refreshDatagram(record, w);
    else if (record.kind == Kinds::UdpGroup)
        refreshGroup(record, w);
}
