#pragma once

#include "app/dialogs/creationdialog.h"

// Asks for the peer address and port of a new TCP client; the address box
// shows the local address every time the dialog opens.
class NewTcpClientDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewTcpClientDialog(QWidget *parent = nullptr);

    // What was typed, valid after OK.
    [[nodiscard]] QString address() const { return address_; }
    [[nodiscard]] int port() const { return port_; }

    void acceptInput() override;
    void showLocalAddress();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLineEdit *addressEdit_, *portEdit_;
    QPushButton *cancelButton_;
    QString address_;
    int port_ = 0;
};
