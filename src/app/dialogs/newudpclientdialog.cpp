#include "app/dialogs/newudpclientdialog.h"

#include "app/netcardinfo.h"
#include "core/errors.h"
#include "core/wholenumber.h"
#include "ui/messages.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

NewUdpClientDialog::NewUdpClientDialog(QWidget *parent)
    : CreationDialog(QStringLiteral("创建UDP Client"), 246, 247, parent)
{
    addressEdit = addField(QStringLiteral("对方IP   "), QStringLiteral("127.0.0.1"));
    broadcastButton = new QPushButton(QStringLiteral("广播地址"), this);
    fields_->addRow(QString(), broadcastButton);
    remotePortEdit = addField(QStringLiteral("对方端口  "), QStringLiteral("60000"));
    localPortEdit = addField(QStringLiteral("本地端口    "), QStringLiteral("10000"));
    cancelButton = addButtons();
    connect(broadcastButton, &QPushButton::clicked, this,
        [this] { Guarded([this] { fillBroadcastAddress(); }); });
}

void NewUdpClientDialog::acceptInput()
{
    const QString typedAddress = addressEdit->text();
    const int typedRemotePort = ParseWholeNumber(remotePortEdit->text());
    const int typedLocalPort = ParseWholeNumber(localPortEdit->text());
    if (PortInUse(typedLocalPort)) {
        ShowMessage(QStringLiteral("本地端口已被占用，请重新选择本地端口号"));
        return;
    }
    address = typedAddress;
    remotePort = typedRemotePort;
    localPort = typedLocalPort;
    done(Created);
}

void NewUdpClientDialog::fillBroadcastAddress()
{
    const QString broadcast = BroadcastAddress();
    if (!broadcast.isEmpty())
        addressEdit->setText(broadcast);
}

void NewUdpClientDialog::showLocalAddress()
{
    addressEdit->setText(LocalIPAddress());
}

void NewUdpClientDialog::showEvent(QShowEvent *event)
{
    CreationDialog::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { showLocalAddress(); });
}
