#pragma once

#include "app/dialogs/creationdialog.h"

// Asks for the listening port of a new TCP server.
class NewTcpServerDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewTcpServerDialog(QWidget *parent = nullptr);

    // What was typed, valid after OK.
    [[nodiscard]] int port() const { return port_; }

    void acceptInput() override;

private:
    QLineEdit *portEdit_;
    QPushButton *cancelButton_;
    int port_ = 0;
};
