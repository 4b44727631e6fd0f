#pragma once

#include "app/dialogs/dialogbase.h"

// Asks for the local port of a new UDP server; the port must be free.
class TfrmNewUDPServer : public TCreationDialog {
    Q_OBJECT

public:
    explicit TfrmNewUDPServer(QWidget *parent = nullptr);

    QLineEdit *Edit3;
    QPushButton *Button2;
    int LocalPort = 0; // valid after OK

    void Button1Click() override;
};
