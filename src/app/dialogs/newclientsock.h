#pragma once

#include "app/dialogs/dialogbase.h"

// Asks for the peer address and port of a new TCP client; the address box
// shows the local address every time the dialog opens.
class TfrmNewClientSock : public TCreationDialog {
    Q_OBJECT

public:
    explicit TfrmNewClientSock(QWidget *parent = nullptr);

    QLineEdit *addressEdit, *portEdit;
    QPushButton *cancelButton;
    QString address; // valid after OK
    int port = 0;

    void acceptInput() override;
    void showLocalAddress();

protected:
    void showEvent(QShowEvent *event) override;
};
