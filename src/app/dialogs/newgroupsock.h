#pragma once

#include "app/dialogs/dialogbase.h"

// Asks for the group address and port of a new multicast member.
class TfrmNewGroupSock : public TCreationDialog {
    Q_OBJECT

public:
    explicit TfrmNewGroupSock(QWidget *parent = nullptr);

    QLineEdit *groupAddressEdit, *groupPortEdit;
    QPushButton *cancelButton;
    QString groupAddress; // valid after OK
    int groupPort = 0;

    void acceptInput() override;
};
