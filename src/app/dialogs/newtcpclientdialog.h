#pragma once

#include "app/dialogs/creationdialog.h"

// Asks for the peer address and port of a new TCP client; the address box
// shows the local address every time the dialog opens.
class NewTcpClientDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewTcpClientDialog(QWidget *parent = nullptr);

    QLineEdit *addressEdit, *portEdit;
    QPushButton *cancelButton;
    QString address; // valid after OK
    int port = 0;

    void acceptInput() override;
    void showLocalAddress();

protected:
    void showEvent(QShowEvent *event) override;
};
