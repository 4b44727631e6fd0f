#pragma once

#include "app/dialogs/creationdialog.h"

// Asks for the peer address and port and the local port of a new UDP client.
// The local port must be free; the broadcast button fills in the local
// network's broadcast address.
class NewUdpClientDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewUdpClientDialog(QWidget *parent = nullptr);

    // What was typed, valid after OK.
    [[nodiscard]] QString address() const { return address_; }
    [[nodiscard]] int remotePort() const { return remotePort_; }
    [[nodiscard]] int localPort() const { return localPort_; }

    void acceptInput() override;
    void fillBroadcastAddress();
    void showLocalAddress();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLineEdit *addressEdit_, *remotePortEdit_, *localPortEdit_;
    QPushButton *broadcastButton_; // "广播地址"
    QPushButton *cancelButton_; // cancel
    QString address_;
    int remotePort_ = 0;
    int localPort_ = 0;
};
