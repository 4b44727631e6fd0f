#include "app/dialogs/newgroupsock.h"

#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>

TfrmNewGroupSock::TfrmNewGroupSock(QWidget *parent)
    : TCreationDialog(QStringLiteral("创建UDP组播"), 250, 203, parent)
{
    groupAddressEdit = addField(QStringLiteral("组播地址:  "), QStringLiteral("224.1.1.1"));
    groupPortEdit = addField(QStringLiteral("组播端口: "), QStringLiteral("65000"));
    cancelButton = addButtons();
}

void TfrmNewGroupSock::acceptInput()
{
    const QString address = groupAddressEdit->text();
    groupPort = ParseWholeNumber(groupPortEdit->text());
    groupAddress = address;
    done(Created);
}
