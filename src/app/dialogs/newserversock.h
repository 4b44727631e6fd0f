#pragma once

#include "app/dialogs/dialogbase.h"

// Asks for the listening port of a new TCP server.
class TfrmNewServerSock : public TCreationDialog {
    Q_OBJECT

public:
    explicit TfrmNewServerSock(QWidget *parent = nullptr);

    QLineEdit *Edit1;
    QPushButton *Button2;
    int Port = 0; // valid after OK

    void Button1Click() override;
};
