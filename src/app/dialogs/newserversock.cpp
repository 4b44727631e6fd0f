#include "app/dialogs/newserversock.h"

#include "core/errors.h"
#include "core/wholenumber.h"

#include <QLineEdit>

TfrmNewServerSock::TfrmNewServerSock(QWidget *parent)
    : TCreationDialog(QStringLiteral("创建Socket服务器"), 285, 166, parent)
{
    Edit1 = addField(QStringLiteral("监听端口:  "), QStringLiteral("60000"));
    Button2 = addButtons();
}

void TfrmNewServerSock::Button1Click()
{
    Port = ParseWholeNumber(Edit1->text());
    done(ResultOK);
}
