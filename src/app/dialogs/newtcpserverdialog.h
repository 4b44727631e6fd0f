#pragma once

#include "app/dialogs/creationdialog.h"

// Asks for the listening port of a new TCP server.
class NewTcpServerDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewTcpServerDialog(QWidget *parent = nullptr);

    QLineEdit *portEdit;
    QPushButton *cancelButton;
    int port = 0; // valid after OK

    void acceptInput() override;
};
