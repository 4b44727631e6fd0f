#pragma once

#include "app/dialogs/dialogbase.h"

// Asks for the peer address and port of a new TCP client; the address box
// shows the local address every time the dialog opens.
class TfrmNewClientSock : public TCreationDialog {
    Q_OBJECT

public:
    explicit TfrmNewClientSock(QWidget *parent = nullptr);

    QLineEdit *Edit1, *Edit2;
    QPushButton *Button2;
    QString Address; // valid after OK
    int Port = 0;

    void Button1Click() override;
    void FormActivate();

protected:
    void showEvent(QShowEvent *event) override;
};
