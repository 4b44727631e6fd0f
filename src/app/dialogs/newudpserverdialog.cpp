#include "app/dialogs/newudpserverdialog.h"

#include "core/errors.h"
#include "core/wholenumber.h"
#include "net/localaddress.h"
#include "ui/messages.h"

#include <QLineEdit>
#include <QPushButton>

NewUdpServerDialog::NewUdpServerDialog(QWidget *parent)
    : CreationDialog(tr("创建UDP Server"), 242, 159, parent)
{
    localPortEdit_ = addField(tr("本地端口    "), QStringLiteral("60000"));
    localPortEdit_->setObjectName(QStringLiteral("localPortEdit"));
    cancelButton_ = addButtons();
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
}

void NewUdpServerDialog::acceptInput()
{
    const int port = ParseWholeNumber(localPortEdit_->text());
    if (udpPortInUse(port)) {
        ShowMessage(tr("本地端口已被占用，请重新选择本地端口号"));
        return;
    }
    localPort_ = port;
    done(Created);
}
