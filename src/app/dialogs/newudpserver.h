#pragma once

#include "app/dialogs/dialogbase.h"

// Asks for the local port of a new UDP server; the port must be free.
class TfrmNewUDPServer : public TCreationDialog {
    Q_OBJECT

public:
    explicit TfrmNewUDPServer(QWidget *parent = nullptr);

    QLineEdit *localPortEdit;
    QPushButton *cancelButton;
    int localPort = 0; // valid after OK

    void acceptInput() override;
};
