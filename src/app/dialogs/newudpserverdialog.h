#pragma once

#include "app/dialogs/creationdialog.h"

// Asks for the local port of a new UDP server; the port must be free.
class NewUdpServerDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewUdpServerDialog(QWidget *parent = nullptr);

    QLineEdit *localPortEdit;
    QPushButton *cancelButton;
    int localPort = 0; // valid after OK

    void acceptInput() override;
};
