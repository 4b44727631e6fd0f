#pragma once

#include "app/dialogs/dialogbase.h"

// Asks for the group address and port of a new multicast member.
class TfrmNewGroupSock : public TCreationDialog {
    Q_OBJECT

public:
    explicit TfrmNewGroupSock(QWidget *parent = nullptr);

    QLineEdit *Edit1, *Edit2;
    QPushButton *Button2;
    QString GroupIP; // valid after OK
    int GroupPort = 0;

    void Button1Click() override;
};
