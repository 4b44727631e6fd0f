#pragma once
// The device box of the serial port dialog: an editable list of the serial
// devices the system has, listed again about once a second while the box is
// on the screen, so that an adapter plugged in meanwhile shows up. Whatever
// the user typed, and where the cursor and selection stand in it, outlives
// every new listing; any path may be typed (a pseudo-terminal, a symlink).
// Picking a device puts the name it is opened by into the box: its stable
// name when it has one, else its path. The lister is the caller's, so tests
// describe the devices. Owned by its dialog; UI thread only.

#include "app/dialogs/labelledcombobox.h"
#include "net/serial/serialdevicelist.h"

#include <QElapsedTimer>

#include <functional>
#include <vector>

class QTimer;

using SerialDeviceLister = std::function<std::vector<SerialDeviceInfo>()>;

class SerialDeviceBox : public LabelledComboBox {
    Q_OBJECT

public:
    SerialDeviceBox(SerialDeviceLister lister, QWidget *parent);

    // The device to open: what the box holds, without surrounding blanks.
    [[nodiscard]] QString device() const;

    // "/dev/ttyUSB0  FTDI FT232R USB UART (0403:6001)", with what is known.
    [[nodiscard]] static QString describe(const SerialDeviceInfo &info);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void listDevices();
    void showDevices(const std::vector<SerialDeviceInfo> &devices);
    void putOpeningName(int index);

    SerialDeviceLister lister_;
    QTimer *refreshTimer_;
    QElapsedTimer sinceListing_;
    std::vector<SerialDeviceInfo> shown_;
};
