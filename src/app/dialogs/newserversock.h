#pragma once

#include "app/dialogs/dialogbase.h"

// Asks for the listening port of a new TCP server.
class TfrmNewServerSock : public TCreationDialog {
    Q_OBJECT

public:
    explicit TfrmNewServerSock(QWidget *parent = nullptr);

    QLineEdit *portEdit;
    QPushButton *cancelButton;
    int port = 0; // valid after OK

    void acceptInput() override;
};
