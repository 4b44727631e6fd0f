#include "app/dialogs/newudpsock.h"

#include "app/netcardinfo.h"
#include "core/errors.h"
#include "core/wholenumber.h"
#include "ui/messages.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

TfrmNewUdpSock::TfrmNewUdpSock(QWidget *parent)
    : TCreationDialog(QStringLiteral("创建UDP Client"), 246, 247, parent)
{
    Edit1 = addField(QStringLiteral("对方IP   "), QStringLiteral("127.0.0.1"));
    Button3 = new QPushButton(QStringLiteral("广播地址"), this);
    fields_->addRow(QString(), Button3);
    Edit2 = addField(QStringLiteral("对方端口  "), QStringLiteral("60000"));
    Edit3 = addField(QStringLiteral("本地端口    "), QStringLiteral("10000"));
    suiButton1 = addButtons();
    connect(Button3, &QPushButton::clicked, this, [this] { Guarded([this] { Button3Click(); }); });
}

void TfrmNewUdpSock::Button1Click()
{
    const QString address = Edit1->text();
    const int remotePort = ParseWholeNumber(Edit2->text());
    const int localPort = ParseWholeNumber(Edit3->text());
    if (PortInUse(localPort)) {
        ShowMessage(QStringLiteral("本地端口已被占用，请重新选择本地端口号"));
        return;
    }
    Address = address;
    RemotePort = remotePort;
    LocalPort = localPort;
    done(ResultOK);
}

void TfrmNewUdpSock::Button3Click()
{
    const QString broadcast = BroadcastAddress();
    if (!broadcast.isEmpty())
        Edit1->setText(broadcast);
}

void TfrmNewUdpSock::FormActivate()
{
    Edit1->setText(LocalIPAddress());
}

void TfrmNewUdpSock::showEvent(QShowEvent *event)
{
    TCreationDialog::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { FormActivate(); });
}
