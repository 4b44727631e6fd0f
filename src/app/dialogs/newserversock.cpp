#include "app/dialogs/newserversock.h"

#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>

TfrmNewServerSock::TfrmNewServerSock(QWidget *parent)
    : TCreationDialog(QStringLiteral("创建Socket服务器"), 285, 166, parent)
{
    portEdit = addField(QStringLiteral("监听端口:  "), QStringLiteral("60000"));
    cancelButton = addButtons();
}

void TfrmNewServerSock::acceptInput()
{
    port = ParseWholeNumber(portEdit->text());
    done(Created);
}
