#pragma once

#include "app/dialogs/dialogbase.h"

// Asks for the peer address and port and the local port of a new UDP client.
// The local port must be free; the broadcast button fills in the local
// network's broadcast address.
class TfrmNewUdpSock : public TCreationDialog {
    Q_OBJECT

public:
    explicit TfrmNewUdpSock(QWidget *parent = nullptr);

    QLineEdit *Edit1, *Edit2, *Edit3;
    QPushButton *Button3; // "广播地址"
    QPushButton *suiButton1; // cancel
    QString Address; // valid after OK
    int RemotePort = 0;
    int LocalPort = 0;

    void Button1Click() override;
    void Button3Click();
    void FormActivate();

protected:
    void showEvent(QShowEvent *event) override;
};
