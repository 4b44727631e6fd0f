#include "app/dialogs/newtcpserverdialog.h"

#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>

NewTcpServerDialog::NewTcpServerDialog(QWidget *parent)
    : CreationDialog(QStringLiteral("创建Socket服务器"), 285, 166, parent)
{
    portEdit = addField(QStringLiteral("监听端口:  "), QStringLiteral("60000"));
    cancelButton = addButtons();
}

void NewTcpServerDialog::acceptInput()
{
    port = ParseWholeNumber(portEdit->text());
    done(Created);
}
