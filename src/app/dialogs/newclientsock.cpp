#include "app/dialogs/newclientsock.h"

#include "app/netcardinfo.h"
#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>
#include <QShowEvent>

TfrmNewClientSock::TfrmNewClientSock(QWidget *parent)
    : TCreationDialog(QStringLiteral("创建Socket客户端"), 259, 209, parent)
{
    Edit1 = addField(QStringLiteral("对方IP:    "), QStringLiteral("127.0.0.1"));
    Edit2 = addField(QStringLiteral("对方端口:  "), QStringLiteral("60000"));
    Button2 = addButtons();
}

void TfrmNewClientSock::Button1Click()
{
    const QString address = Edit1->text();
    Port = ParseWholeNumber(Edit2->text());
    Address = address;
    done(ResultOK);
}

void TfrmNewClientSock::FormActivate()
{
    Edit1->setText(LocalIPAddress());
}

void TfrmNewClientSock::showEvent(QShowEvent *event)
{
    TCreationDialog::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { FormActivate(); });
}
