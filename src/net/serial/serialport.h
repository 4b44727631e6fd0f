#pragma once
// Serial port component: one serial device opened as a non-blocking terminal,
// its line settings, queue sizes and time-outs, a monitoring thread that
// reports arriving data as device events, writing and reading with time
// limits, and queued writing through a writer thread for callers that must
// not wait.
//
// Device names: "COMn" in any letter case names /dev/ttyS(n-1); any other name
// is a device path. Tests redirect names with setDevicePathResolver.
//
// Sources: serialport.cpp (opening, closing, lifetime), serialport_lines.cpp
// (line settings), serialport_io.cpp (reading, writing, device events).

#include "core/errors.h"
#include "net/serial/serialdevice.h"
#include "net/serial/serialsettings.h"

#include <QByteArray>
#include <QFlags>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// Raised by the serial component; code tells which failure.
class SerialPortError : public Exception {
public:
    SerialPortError(const QString &message, int code)
        : Exception(message)
        , code_(code)
    {
    }
    [[nodiscard]] int code() const noexcept { return code_; }

private:
    int code_;
};

// Not B9600 and so on: <termios.h> defines those names as macros.
enum class BaudRate {
    Baud110,
    Baud300,
    Baud600,
    Baud1200,
    Baud2400,
    Baud4800,
    Baud9600,
    Baud14400,
    Baud19200,
    Baud38400,
    Baud56000,
    Baud57600,
    Baud115200,
    Baud128000,
    Baud256000,
    Custom
};
enum class FlowControl { None, RtsCts, DtrDsr, Software, Custom };

enum class RtsSetting { CtsOutputFlow = 0x1, On = 0x2, Handshake = 0x4 };
Q_DECLARE_FLAGS(RtsSettings, RtsSetting)
Q_DECLARE_OPERATORS_FOR_FLAGS(RtsSettings)

enum class DtrSetting { DsrOutputFlow = 0x1, On = 0x2, Handshake = 0x4 };
Q_DECLARE_FLAGS(DtrSettings, DtrSetting)
Q_DECLARE_OPERATORS_FOR_FLAGS(DtrSettings)

enum class XonXoff { Input = 0x1, Output = 0x2 };
Q_DECLARE_FLAGS(XonXoffSettings, XonXoff)
Q_DECLARE_OPERATORS_FOR_FLAGS(XonXoffSettings)

enum class SerialOption {
    AbortOnError = 0x01,
    DiscardNull = 0x02,
    DsrSensitivity = 0x04,
    ErrorChar = 0x08,
    ParityCheck = 0x10,
    TxContinueOnXoff = 0x20,
    LeaveDtrOpen = 0x40
};
Q_DECLARE_FLAGS(SerialOptions, SerialOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(SerialOptions)

// Member i is device event bit 2^i, so a set converts to the event mask as is.
enum class DeviceEvent {
    CharReceived = 0x0001,
    EventChar = 0x0002,
    OutputEmpty = 0x0004,
    Cts = 0x0008,
    Dsr = 0x0010,
    CarrierDetect = 0x0020,
    Break = 0x0040,
    LineError = 0x0080,
    Ring = 0x0100,
    PrinterError = 0x0200,
    InputAlmostFull = 0x0400,
    Provider1 = 0x0800,
    Provider2 = 0x1000
};
Q_DECLARE_FLAGS(DeviceEvents, DeviceEvent)
Q_DECLARE_OPERATORS_FOR_FLAGS(DeviceEvents)

// The bit rate a BaudRate names; 0 for BaudRate::Custom.
[[nodiscard]] std::uint32_t BaudRateValue(BaudRate rate);

class SerialMonitor;
class SerialWriter;

// Ownership: owns its sub-objects, the device fd while open, the monitoring
// thread and the writer thread. Lives on the thread that created it (the UI
// thread): every property, operation and event is used there. It reports
// through signals, whose receivers run before the emitting call goes on.
// dataReceived and deviceEventsOccurred are emitted on the UI thread when
// synchronize() is true (the default); with synchronize() false they are
// emitted on the monitoring thread, and a receiver that must run there
// connects with Qt::DirectConnection (an automatic connection to an object
// of the UI thread would be queued). Never delete it from inside one of its
// receivers: use deleteLater().
class SerialPort : public QObject {
    Q_OBJECT

public:
    using DevicePathResolver = std::function<QString(const QString &deviceName)>;

    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    // "COMn" (any case, n >= 1) -> /dev/ttyS(n-1); anything else unchanged.
    [[nodiscard]] static QString defaultDevicePath(const QString &deviceName);
    // Replaces the name-to-device mapping (tests point names at
    // pseudo-terminals); returns the previous one. An empty function restores
    // defaultDevicePath.
    static DevicePathResolver setDevicePathResolver(DevicePathResolver resolver);
    // The device a name opens, by the mapping in force.
    [[nodiscard]] static QString devicePathFor(const QString &deviceName);

    [[nodiscard]] BaudRate baudRate();
    void setBaudRate(BaudRate value);
    [[nodiscard]] std::uint32_t baudValue();
    void setBaudValue(std::uint32_t value);
    [[nodiscard]] SerialQueues &queues() { return queues_; }
    [[nodiscard]] SerialFraming &framing() { return framing_; }
    [[nodiscard]] const QString &deviceName() const { return deviceName_; }
    void setDeviceName(const QString &value);
    [[nodiscard]] DtrSettings dtrSettings();
    void setDtrSettings(DtrSettings value);
    [[nodiscard]] SerialEventChars &eventChars() { return eventChars_; }
    [[nodiscard]] DeviceEvents monitorEvents() const { return monitorEvents_; }
    void setMonitorEvents(DeviceEvents value) { monitorEvents_ = value; }
    [[nodiscard]] FlowControl flowControl() const { return flowControl_; }
    void setFlowControl(FlowControl value);
    [[nodiscard]] SerialOptions options() const { return options_; }
    void setOptions(SerialOptions value);
    [[nodiscard]] RtsSettings rtsSettings();
    void setRtsSettings(RtsSettings value);
    [[nodiscard]] bool synchronize() const { return synchronize_; }
    void setSynchronize(bool value);
    [[nodiscard]] SerialTimeouts &timeouts() { return timeouts_; }
    [[nodiscard]] XonXoffSettings xonXoffSettings();
    void setXonXoffSettings(XonXoffSettings value);

    // False, with nothing raised, when the device cannot be opened.
    virtual bool open();
    virtual void close();
    [[nodiscard]] virtual int lockState() const;
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }

    // Synchronous writing: waits on the calling thread, up to the time-outs,
    // while the device does not take the bytes, and emits pieceSent and
    // DeviceEvent::OutputEmpty for each piece.
    bool write(const QByteArray &data);
    int writeData(const char *data, int count, int limitMs);
    // Queued writing, for a caller that must not wait: the bytes join a queue
    // of WriteQueueCapacity bytes that a writer thread hands to the device in
    // order, however long the device takes. Returns how many were queued; the
    // rest did not fit and is dropped. Raises no events (nobody waits for the
    // pieces). Mixing it with writeData while bytes are queued interleaves
    // the two.
    static constexpr qsizetype WriteQueueCapacity = 64 * 1024;
    qsizetype queueWrite(const QByteArray &data);
    // Bytes queued by queueWrite that the device has not taken yet.
    [[nodiscard]] qsizetype queuedForWriting();
    bool read(QByteArray &data);
    int readData(char *buffer, int count, int limitMs);
    [[nodiscard]] int queuedInput();
    [[nodiscard]] int queuedOutput();

signals:
    // Data arrived (with the count of bytes waiting).
    void dataReceived(int received);
    // The monitored device events that occurred.
    void deviceEventsOccurred(DeviceEvents events);
    // A piece was read by readData, or written by writeData; reading, or
    // writing, is locked while the receivers run.
    void pieceRead();
    void pieceSent();

protected:
    void dispatchDeviceEvents(DeviceEvents events);

private:
    friend class SerialQueues;
    friend class SerialFraming;
    friend class SerialEventChars;
    friend class SerialTimeouts;

    void applyLineSettings();
    void applyQueues();
    // Each write reads the time-outs afresh; the line discipline has nothing
    // to take (reads never block in the driver).
    void applyTimeouts() { }
    void applyFlowControlTable();
    void applyLeaveDtrOpenRule();
    void closeDevice();
    void checkOpen() const;
    // Emits pieceSent or pieceRead with its lock bit set. False when a
    // receiver destroyed the component.
    bool emitLocked(int lockBit, void (SerialPort::*signal)());
    // How long one write piece of size bytes may wait for the device.
    [[nodiscard]] int pieceWaitMs(int size) const;
    // Writes what the device takes of one piece within waitMs; -1 when the
    // device failed.
    int writePiece(const char *data, int size, int waitMs);

    int fd_ = -1;
    BaudRate baudRate_ = BaudRate::Baud9600;
    std::uint32_t baudValue_ = 9600;
    SerialQueues queues_{*this};
    SerialFraming framing_{*this};
    QString deviceName_ = QStringLiteral("COM2");
    DtrSettings dtrSettings_;
    SerialEventChars eventChars_{*this};
    DeviceEvents monitorEvents_
        = DeviceEvent::CharReceived | DeviceEvent::EventChar | DeviceEvent::OutputEmpty;
    FlowControl flowControl_ = FlowControl::None;
    SerialOptions options_;
    RtsSettings rtsSettings_;
    bool synchronize_ = true;
    SerialTimeouts timeouts_{*this};
    XonXoffSettings xonXoffSettings_;
    std::unique_ptr<SerialMonitor> thread_;
    std::unique_ptr<SerialWriter> writer_; // made by the first queueWrite
    int lockFlags_ = 0;
    std::atomic<bool> closing_{false};
    std::atomic<bool> destroying_{false};
    serial_device::SavedAttributes saved_;
};
