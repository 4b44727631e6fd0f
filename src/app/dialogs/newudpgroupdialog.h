#pragma once

#include "app/dialogs/creationdialog.h"

// Asks for the group address and port of a new multicast member.
class NewUdpGroupDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewUdpGroupDialog(QWidget *parent = nullptr);

    QLineEdit *groupAddressEdit, *groupPortEdit;
    QPushButton *cancelButton;
    QString groupAddress; // valid after OK
    int groupPort = 0;

    void acceptInput() override;
};
