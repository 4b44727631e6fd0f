#include "app/dialogs/newtcpserverdialog.h"

#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>
#include <QPushButton>

NewTcpServerDialog::NewTcpServerDialog(QWidget *parent)
    : CreationDialog(tr("创建Socket服务器"), 285, 166, parent)
{
    portEdit_ = addField(tr("监听端口:  "), QStringLiteral("60000"));
    portEdit_->setObjectName(QStringLiteral("portEdit"));
    cancelButton_ = addButtons();
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
}

void NewTcpServerDialog::acceptInput()
{
    port_ = ParseWholeNumber(portEdit_->text());
    done(Created);
}
