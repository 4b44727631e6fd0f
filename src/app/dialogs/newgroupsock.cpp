#include "app/dialogs/newgroupsock.h"

#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>

TfrmNewGroupSock::TfrmNewGroupSock(QWidget *parent)
    : TCreationDialog(QStringLiteral("创建UDP组播"), 250, 203, parent)
{
    Edit1 = addField(QStringLiteral("组播地址:  "), QStringLiteral("224.1.1.1"));
    Edit2 = addField(QStringLiteral("组播端口: "), QStringLiteral("65000"));
    Button2 = addButtons();
}

void TfrmNewGroupSock::Button1Click()
{
    const QString address = Edit1->text();
    GroupPort = ParseWholeNumber(Edit2->text());
    GroupIP = address;
    done(ResultOK);
}
