#pragma once

#include "app/dialogs/creationdialog.h"

// Asks for the local port of a new UDP server; the port must be free.
class NewUdpServerDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewUdpServerDialog(QWidget *parent = nullptr);

    // What was typed, valid after OK.
    [[nodiscard]] int localPort() const { return localPort_; }

    void acceptInput() override;

private:
    QLineEdit *localPortEdit_;
    QPushButton *cancelButton_;
    int localPort_ = 0;
};
