#include "app/dialogs/newudpclientdialog.h"

#include "core/errors.h"
#include "core/wholenumber.h"
#include "net/localaddress.h"
#include "ui/messages.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

NewUdpClientDialog::NewUdpClientDialog(QWidget *parent)
    : CreationDialog(tr("创建UDP Client"), 246, 247, parent)
{
    addressEdit_ = addField(tr("对方IP   "), QStringLiteral("127.0.0.1"));
    addressEdit_->setObjectName(QStringLiteral("addressEdit"));
    broadcastButton_ = new QPushButton(tr("广播地址"), this);
    broadcastButton_->setObjectName(QStringLiteral("broadcastButton"));
    fields_->addRow(QString(), broadcastButton_);
    remotePortEdit_ = addField(tr("对方端口  "), QStringLiteral("60000"));
    remotePortEdit_->setObjectName(QStringLiteral("remotePortEdit"));
    localPortEdit_ = addField(tr("本地端口    "), QStringLiteral("10000"));
    localPortEdit_->setObjectName(QStringLiteral("localPortEdit"));
    cancelButton_ = addButtons();
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    connect(broadcastButton_, &QPushButton::clicked, this,
        [this] { Guarded([this] { fillBroadcastAddress(); }); });
}

void NewUdpClientDialog::acceptInput()
{
    const QString typedAddress = addressEdit_->text();
    const int typedRemotePort = ParseWholeNumber(remotePortEdit_->text());
    const int typedLocalPort = ParseWholeNumber(localPortEdit_->text());
    if (udpPortInUse(typedLocalPort)) {
        ShowMessage(tr("本地端口已被占用，请重新选择本地端口号"));
        return;
    }
    address_ = typedAddress;
    remotePort_ = typedRemotePort;
    localPort_ = typedLocalPort;
    done(Created);
}

void NewUdpClientDialog::fillBroadcastAddress()
{
    const BroadcastAddress broadcast = broadcastAddress();
    if (broadcast.networkSuspect)
        ShowMessage(tr("请检查本机网络连接是否正常"));
    if (!broadcast.address.isEmpty())
        addressEdit_->setText(broadcast.address);
}

void NewUdpClientDialog::showLocalAddress()
{
    addressEdit_->setText(localIpAddress());
}

void NewUdpClientDialog::showEvent(QShowEvent *event)
{
    CreationDialog::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { showLocalAddress(); });
}
