#include "app/dialogs/newtcpclientdialog.h"

#include "core/errors.h"
#include "core/wholenumber.h"
#include "net/localaddress.h"

#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

NewTcpClientDialog::NewTcpClientDialog(QWidget *parent)
    : CreationDialog(tr("创建Socket客户端"), 259, 209, parent)
{
    addressEdit_ = addField(tr("对方IP:    "), QStringLiteral("127.0.0.1"));
    addressEdit_->setObjectName(QStringLiteral("addressEdit"));
    portEdit_ = addField(tr("对方端口:  "), QStringLiteral("60000"));
    portEdit_->setObjectName(QStringLiteral("portEdit"));
    cancelButton_ = addButtons();
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
}

void NewTcpClientDialog::acceptInput()
{
    const QString typedAddress = addressEdit_->text();
    port_ = ParseWholeNumber(portEdit_->text());
    address_ = typedAddress;
    done(Created);
}

void NewTcpClientDialog::showLocalAddress()
{
    addressEdit_->setText(localIpAddress());
}

void NewTcpClientDialog::showEvent(QShowEvent *event)
{
    CreationDialog::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { showLocalAddress(); });
}
