#include "app/dialogs/newtcpclientdialog.h"

#include "net/localaddress.h"
#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>
#include <QShowEvent>

NewTcpClientDialog::NewTcpClientDialog(QWidget *parent)
    : CreationDialog(QStringLiteral("创建Socket客户端"), 259, 209, parent)
{
    addressEdit = addField(QStringLiteral("对方IP:    "), QStringLiteral("127.0.0.1"));
    portEdit = addField(QStringLiteral("对方端口:  "), QStringLiteral("60000"));
    cancelButton = addButtons();
}

void NewTcpClientDialog::acceptInput()
{
    const QString typedAddress = addressEdit->text();
    port = ParseWholeNumber(portEdit->text());
    address = typedAddress;
    done(Created);
}

void NewTcpClientDialog::showLocalAddress()
{
    addressEdit->setText(localIpAddress());
}

void NewTcpClientDialog::showEvent(QShowEvent *event)
{
    CreationDialog::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { showLocalAddress(); });
}
