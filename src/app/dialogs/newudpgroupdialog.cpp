#include "app/dialogs/newudpgroupdialog.h"

#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>

NewUdpGroupDialog::NewUdpGroupDialog(QWidget *parent)
    : CreationDialog(QStringLiteral("创建UDP组播"), 250, 203, parent)
{
    groupAddressEdit = addField(QStringLiteral("组播地址:  "), QStringLiteral("224.1.1.1"));
    groupPortEdit = addField(QStringLiteral("组播端口: "), QStringLiteral("65000"));
    cancelButton = addButtons();
}

void NewUdpGroupDialog::acceptInput()
{
    const QString address = groupAddressEdit->text();
    groupPort = ParseWholeNumber(groupPortEdit->text());
    groupAddress = address;
    done(Created);
}
