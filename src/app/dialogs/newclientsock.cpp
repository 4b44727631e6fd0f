#include "app/dialogs/newclientsock.h"

#include "app/netcardinfo.h"
#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>
#include <QShowEvent>

TfrmNewClientSock::TfrmNewClientSock(QWidget *parent)
    : TCreationDialog(QStringLiteral("创建Socket客户端"), 259, 209, parent)
{
    addressEdit = addField(QStringLiteral("对方IP:    "), QStringLiteral("127.0.0.1"));
    portEdit = addField(QStringLiteral("对方端口:  "), QStringLiteral("60000"));
    cancelButton = addButtons();
}

void TfrmNewClientSock::acceptInput()
{
    const QString typedAddress = addressEdit->text();
    port = ParseWholeNumber(portEdit->text());
    address = typedAddress;
    done(Created);
}

void TfrmNewClientSock::showLocalAddress()
{
    addressEdit->setText(LocalIPAddress());
}

void TfrmNewClientSock::showEvent(QShowEvent *event)
{
    TCreationDialog::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { showLocalAddress(); });
}
