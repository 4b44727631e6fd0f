#pragma once

#include "app/dialogs/creationdialog.h"
#include "app/dialogs/serialdevicebox.h"
#include "session/serialsetup.h"

class QCheckBox;
class QComboBox;

// Asks for the device and line settings of a new serial port endpoint: the
// device (picked from the system's devices or typed), bit rate, character
// format, flow control, the DTR and RTS levels held from the moment it
// opens, how received bytes are cut into messages, and whether it reconnects
// by itself. A value out of range is named in a message and the dialog stays
// open on that box. The lister names the devices; the dialog lives for the
// whole program and keeps what was typed.
class NewSerialPortDialog : public CreationDialog {
    Q_OBJECT

public:
    explicit NewSerialPortDialog(SerialDeviceLister lister, QWidget *parent = nullptr);

    // What was chosen, valid after OK.
    [[nodiscard]] const SerialSetup &setup() const { return setup_; }

    void acceptInput() override;

private:
    void addRow(const QString &label, QWidget *field);
    // Too: a value off the list may be typed.
    enum class Typed { ListOnly, Too };
    QComboBox *addChoice(
        const QString &label, const QStringList &items, int current, Typed typed = Typed::ListOnly);
    void enableFramingInUse();
    void refuse(QWidget *field, const QString &message);

    SerialDeviceBox *deviceBox_;
    QComboBox *baudBox_, *dataBitsBox_, *parityBox_, *stopBitsBox_, *flowBox_, *framingBox_, *delimiterBox_;
    QCheckBox *dtrSwitch_, *rtsSwitch_, *autoReconnectSwitch_;
    QLineEdit *gapEdit_, *messageCapEdit_;
    QPushButton *cancelButton_;
    SerialSetup setup_;
};
