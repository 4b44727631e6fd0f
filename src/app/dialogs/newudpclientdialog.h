#pragma once

#include "app/dialogs/creationdialog.h"

// Asks for the peer address and port and the local port of a new UDP client.
// The local port must be free; the broadcast button fills in the local
// network's broadcast address.
class NewUdpClientDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewUdpClientDialog(QWidget *parent = nullptr);

    QLineEdit *addressEdit, *remotePortEdit, *localPortEdit;
    QPushButton *broadcastButton; // "广播地址"
    QPushButton *cancelButton; // cancel
    QString address; // valid after OK
    int remotePort = 0;
    int localPort = 0;

    void acceptInput() override;
    void fillBroadcastAddress();
    void showLocalAddress();

protected:
    void showEvent(QShowEvent *event) override;
};
