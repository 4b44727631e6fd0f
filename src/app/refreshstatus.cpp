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
        w.Button5->setEnabled(false);
        w.Button6->setEnabled(true);
    } else if (state == 0) {
        w.Button5->setEnabled(true);
        w.Button6->setEnabled(false);
    }
}

QString number(int value)
{
    return QString::number(value);
}

void refreshServer(const TMySocket &r, TFrmData &w)
{
    setStateWord(w.Label1, r.State, QStringLiteral("已启动"), QStringLiteral("已停止"));
    w.Label2->setText(QStringLiteral("Socket服务器创建时间:") + r.CreateTime);
    w.Label3->clear();
    w.Label4->clear();
    w.Label5->clear();
    w.Label6->clear();
    w.Button5->setText(QStringLiteral("启动监听"));
    w.Button6->setText(QStringLiteral("停止监听"));
    w.Button5->setVisible(true);
    w.Button6->setVisible(true);
    w.Label6->setText(QStringLiteral("本地端口:") + number(r.LocalPort));
    setEnabledByState(w, r.State);
}

// TCP ServerClient and TCP Client; only a client can connect again.
void refreshConnection(const TMySocket &r, TFrmData &w, bool canConnect)
{
    setStateWord(w.Label1, r.State, QStringLiteral("已连接"), QStringLiteral("已断开"));
    w.Label2->setText(QStringLiteral("Socket创建时间:") + r.CreateTime);
    w.Label3->setText(QStringLiteral("对方IP:") + r.RemoteIP);
    w.Label4->setText(QStringLiteral("对方端口:") + number(r.RemotePort));
    w.Label5->clear();
    w.Label6->setText(QStringLiteral("本地端口:") + number(r.LocalPort));
    w.Button5->setText(QStringLiteral("连接"));
    w.Button6->setText(QStringLiteral("断开"));
    w.Button5->setVisible(canConnect);
    w.Button6->setVisible(true);
    setEnabledByState(w, r.State);
}

void refreshDatagram(const TMySocket &r, TFrmData &w)
{
    w.Label1->clear();
    w.Label2->setText(QStringLiteral("Socket创建时间:") + r.CreateTime);
    w.Label3->setText(QStringLiteral("对方IP:") + r.RemoteIP);
    w.Label4->setText(QStringLiteral("对方端口:") + number(r.RemotePort));
    w.Label5->clear();
    w.Label6->setText(QStringLiteral("本地端口:") + number(r.LocalPort));
}

void refreshGroup(const TMySocket &r, TFrmData &w)
{
    w.Label1->clear();
    w.Label2->setText(QStringLiteral("Socket创建时间:") + r.CreateTime);
    w.Label3->setText(QStringLiteral("组播地址:") + r.LocalIP);
    w.Label4->setText(QStringLiteral("组播端口:") + number(r.LocalPort));
    w.Label5->clear();
    w.Label6->clear();
}

} // namespace

void RefreshStatus(const TMySocket &record)
{
    TFrmData *window = record.DataForm;
    if (!window)
        return;
    TFrmData &w = *window;
    w.Button5->setVisible(false);
    w.Button6->setVisible(false);

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
