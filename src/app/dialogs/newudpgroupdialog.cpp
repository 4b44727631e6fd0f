#include "app/dialogs/newudpgroupdialog.h"

#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>
#include <QPushButton>

NewUdpGroupDialog::NewUdpGroupDialog(QWidget *parent)
    : CreationDialog(tr("创建UDP组播"), 250, 203, parent)
{
    groupAddressEdit_ = addField(tr("组播地址:  "), QStringLiteral("224.1.1.1"));
    groupAddressEdit_->setObjectName(QStringLiteral("groupAddressEdit"));
    groupPortEdit_ = addField(tr("组播端口: "), QStringLiteral("65000"));
    groupPortEdit_->setObjectName(QStringLiteral("groupPortEdit"));
    cancelButton_ = addButtons();
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
}

void NewUdpGroupDialog::acceptInput()
{
    const QString address = groupAddressEdit_->text();
    groupPort_ = ParseWholeNumber(groupPortEdit_->text());
    groupAddress_ = address;
    done(Created);
}
