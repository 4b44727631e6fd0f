#include "app/refreshstatus.h"

#include "app/mysocket.h"
#include "datapanel/datapanel.h"

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

void setEnabledByState(TFrmData &w, int state)
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

void refreshServer(const TMySocket &r, TFrmData &w)
{
    setStateWord(w.stateLabel, r.State, QStringLiteral("已启动"), QStringLiteral("已停止"));
    w.createdLabel->setText(QStringLiteral("Socket服务器创建时间:") + r.CreateTime);
    w.peerAddressLabel->clear();
    w.peerPortLabel->clear();
    w.spareLabel->clear();
    w.localPortLabel->clear();
    w.startButton->setText(QStringLiteral("启动监听"));
    w.stopButton->setText(QStringLiteral("停止监听"));
    w.startButton->setVisible(true);
    w.stopButton->setVisible(true);
    w.localPortLabel->setText(QStringLiteral("本地端口:") + number(r.LocalPort));
    setEnabledByState(w, r.State);
}

// TCP ServerClient and TCP Client; only a client can connect again.
void refreshConnection(const TMySocket &r, TFrmData &w, bool canConnect)
{
    setStateWord(w.stateLabel, r.State, QStringLiteral("已连接"), QStringLiteral("已断开"));
    w.createdLabel->setText(QStringLiteral("Socket创建时间:") + r.CreateTime);
    w.peerAddressLabel->setText(QStringLiteral("对方IP:") + r.RemoteIP);
    w.peerPortLabel->setText(QStringLiteral("对方端口:") + number(r.RemotePort));
    w.spareLabel->clear();
    w.localPortLabel->setText(QStringLiteral("本地端口:") + number(r.LocalPort));
    w.startButton->setText(QStringLiteral("连接"));
    w.stopButton->setText(QStringLiteral("断开"));
    w.startButton->setVisible(canConnect);
    w.stopButton->setVisible(true);
    setEnabledByState(w, r.State);
}

void refreshDatagram(const TMySocket &r, TFrmData &w)
{
    w.stateLabel->clear();
    w.createdLabel->setText(QStringLiteral("Socket创建时间:") + r.CreateTime);
    w.peerAddressLabel->setText(QStringLiteral("对方IP:") + r.RemoteIP);
    w.peerPortLabel->setText(QStringLiteral("对方端口:") + number(r.RemotePort));
    w.spareLabel->clear();
    w.localPortLabel->setText(QStringLiteral("本地端口:") + number(r.LocalPort));
}

void refreshGroup(const TMySocket &r, TFrmData &w)
{
    w.stateLabel->clear();
    w.createdLabel->setText(QStringLiteral("Socket创建时间:") + r.CreateTime);
    w.peerAddressLabel->setText(QStringLiteral("组播地址:") + r.LocalIP);
    w.peerPortLabel->setText(QStringLiteral("组播端口:") + number(r.LocalPort));
    w.spareLabel->clear();
    w.localPortLabel->clear();
}

} // namespace

void RefreshStatus(const TMySocket &record)
{
    TFrmData *window = record.DataForm;
    if (!window)
        return;
    TFrmData &w = *window;
    w.startButton->setVisible(false);
    w.stopButton->setVisible(false);

    if (record.Kind == Kinds::TcpServer)
        refreshServer(record, w);
    else if (record.Kind == Kinds::TcpServerClient)
        refreshConnection(record, w, false);
    else if (record.Kind == Kinds::TcpClient)
        refreshConnection(record, w, true);
    else if (record.Kind == Kinds::UdpClient || record.Kind == Kinds::UdpServer)
        refreshDatagram(record, w);
    else if (record.Kind == Kinds::UdpGroup)
        refreshGroup(record, w);
}
