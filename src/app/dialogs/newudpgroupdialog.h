#pragma once

#include "app/dialogs/creationdialog.h"

// Asks for the group address and port of a new multicast member.
class NewUdpGroupDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewUdpGroupDialog(QWidget *parent = nullptr);

    // What was typed, valid after OK.
    [[nodiscard]] QString groupAddress() const { return groupAddress_; }
    [[nodiscard]] int groupPort() const { return groupPort_; }

    void acceptInput() override;

private:
    QLineEdit *groupAddressEdit_, *groupPortEdit_;
    QPushButton *cancelButton_;
    QString groupAddress_;
    int groupPort_ = 0;
};
