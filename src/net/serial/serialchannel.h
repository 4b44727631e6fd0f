#pragma once
// An open serial device as a byte stream: the transport a serial endpoint
// owns. It opens the device for itself alone, sets the modem lines and the
// line settings, hands over what arrives, writes from a bounded queue,
// drives DTR, RTS and the break, reports the modem status lines, and says
// once when the device went away (an adapter unplugged, the far end of a
// pseudo-terminal closed).
//
// Ownership: owns the descriptor, its notifiers, the break timer and the
// modem-line watcher; shares the device calls with the watcher's thread.
// Threading: lives on one thread with an event loop (the UI thread) and is
// used from it alone. Signals come from its notifier, timer and modem-line
// hand-over handlers, and modemLinesChanged also from setDtr and setRts;
// receivers may close the channel but must not destroy it (deleteLater).
//
// Nothing here shows text: failures are codes with the errno value.

#include "net/serial/serialdevice.h"
#include "net/serial/serialdevicenode.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class ModemLineWatcher;
class SerialReader;
class QSocketNotifier;
class QTimer;
class SerialDeviceCalls;

class SerialChannel : public QObject {
    Q_OBJECT

public:
    enum class OpenError {
        None,
        NotFound, // no such device (unplugged, mistyped)
        Permission, // EACCES, EPERM: the user may need the dialout group
        Busy, // another program (or endpoint) holds the device
        NotATerminal, // a file, a directory, a device that is no terminal
        SettingsRefused, // the device would not take the settings (a rate it cannot
                         // make)
        Other,
    };
    struct OpenResult {
        OpenError error = OpenError::None;
        int errorNumber = 0; // errno, 0 when the failure has none
        [[nodiscard]] bool ok() const { return error == OpenError::None; }
    };

    enum ModemLine {
        Dtr = 0x01,
        Rts = 0x02,
        Cts = 0x04,
        Dsr = 0x08,
        Dcd = 0x10,
        Ri = 0x20,
    };
    Q_DECLARE_FLAGS(ModemLines, ModemLine)

    // Output waiting beyond this is refused, not queued.
    static constexpr qsizetype OutputLimit = 1024 * 1024;
    // Handed over per pass of the event loop at most, so a flood leaves the
    // loop its turn.
    static constexpr qsizetype ReadLimit = 256 * 1024;

    // calls: the device calls to make; the system's when empty.
    explicit SerialChannel(QObject *parent = nullptr, std::shared_ptr<SerialDeviceCalls> calls = {});
    ~SerialChannel() override;

    // Opens path (a device, a symlink to one, a pseudo-terminal) with the
    // settings, DTR and RTS as they ask from the first moment. Nothing of a
    // failed open stays behind. Refused (Other, EALREADY) while open.
    [[nodiscard]] OpenResult open(const QString &path, const serial_device::LineSettings &settings);
    // Restores the attributes the device had before, ends a break, drops
    // what has not been written. Returns promptly; the device can be opened
    // again at once.
    void close();
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    [[nodiscard]] QString path() const { return path_; }
    // The device opened last, to know it again; kept after close.
    [[nodiscard]] const serial_node::Identity &identity() const { return identity_; }

    // While paused, what arrives waits with the reader (up to its bound,
    // then in the kernel) and nothing is handed over, nor the device's loss
    // told before the bytes read ahead of it: for a receiver that is behind.
    void pauseReceiving() { receivingPaused_ = true; }
    void resumeReceiving();

    // Queues bytes for the device; returns how many were taken, which is
    // fewer than offered when the queue is full.
    qsizetype write(QByteArrayView bytes);
    [[nodiscard]] qsizetype bytesToWrite() const { return output_.size() - outputHead_; }

    // 0 or the errno value.
    int setDtr(bool on);
    int setRts(bool on);
    // Holds the line in break for ms milliseconds (EALREADY while a break
    // lasts). Returns at once; the break ends from a timer.
    int sendBreak(int ms);

    // False on devices that have none (pseudo-terminals); then modemLines()
    // holds no more than the DTR and RTS asked for, and never changes by
    // itself.
    [[nodiscard]] bool hasModemLines() const { return hasModemLines_; }
    [[nodiscard]] ModemLines modemLines() const { return lines_; }

signals:
    void dataReceived(const QByteArray &bytes);
    void bytesWritten(qint64 count);
    void modemLinesChanged(SerialChannel::ModemLines lines);
    // The device went away; the channel is closed and unsentBytes of the
    // output queue were dropped.
    void deviceLost(int errorNumber, qint64 unsentBytes);

private:
    void readFromDevice();
    void writeToDevice();
    void loseDevice(int error);
    void setLines(ModemLines lines);
    int setLine(int kernelLine, ModemLine line, bool on);
    void endBreak();
    void tearDown(bool deviceGone);

    std::shared_ptr<SerialDeviceCalls> calls_;
    int fd_ = -1;
    QString path_;
    serial_node::Identity identity_;
    serial_device::SavedAttributes saved_;
    bool hangUpOnClose_ = true;
    QSocketNotifier *writeNotifier_ = nullptr;
    QTimer *breakTimer_ = nullptr;
    QTimer *resumeTimer_ = nullptr;
    bool receivingPaused_ = false;
    std::unique_ptr<ModemLineWatcher> watcher_;
    std::unique_ptr<SerialReader> reader_;
    bool hasModemLines_ = false;
    ModemLines lines_;

    //   output_: [ written | waiting ................ ]
    //                      ^ outputHead_
    QByteArray output_;
    qsizetype outputHead_ = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(SerialChannel::ModemLines)
