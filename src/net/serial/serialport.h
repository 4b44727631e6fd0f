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

enum TBaudRate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    brCustom
};
enum TFlowControl { fcNone, fcRtsCts, fcDtrDsr, fcSoftware, fcCustom };

enum TRTSSetting { fsCTSOut = 0x1, fsRTSEnabled = 0x2, fsRTSHandshake = 0x4 };
Q_DECLARE_FLAGS(TRTSSettings, TRTSSetting)
Q_DECLARE_OPERATORS_FOR_FLAGS(TRTSSettings)

enum TDTRSetting { fsDSROut = 0x1, fsDTREnabled = 0x2, fsDTRHandshake = 0x4 };
Q_DECLARE_FLAGS(TDTRSettings, TDTRSetting)
Q_DECLARE_OPERATORS_FOR_FLAGS(TDTRSettings)

enum TXOnXOffSetting { fsInX = 0x1, fsOutX = 0x2 };
Q_DECLARE_FLAGS(TXOnXOffSettings, TXOnXOffSetting)
Q_DECLARE_OPERATORS_FOR_FLAGS(TXOnXOffSettings)

enum TCommOption {
    coAbortOnError = 0x01,
    coDiscardNull = 0x02,
    coDSRSensitivity = 0x04,
    coErrorChar = 0x08,
    coParityCheck = 0x10,
    coTXContinueOnXOff = 0x20,
    coLeaveDTROpen = 0x40
};
Q_DECLARE_FLAGS(TCommOptions, TCommOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TCommOptions)

// Member i is device event bit 2^i, so a set converts to the event mask as is.
enum TDeviceEvent {
    deChar = 0x0001,
    deFlag = 0x0002,
    deOutEmpty = 0x0004,
    deCTS = 0x0008,
    deDSR = 0x0010,
    deRLSD = 0x0020,
    deBreak = 0x0040,
    deError = 0x0080,
    deRing = 0x0100,
    dePrintError = 0x0200,
    deIn80Full = 0x0400,
    deProv1 = 0x0800,
    deProv2 = 0x1000
};
Q_DECLARE_FLAGS(TDeviceEvents, TDeviceEvent)
Q_DECLARE_OPERATORS_FOR_FLAGS(TDeviceEvents)

// The bit rate a TBaudRate names; 0 for brCustom.
[[nodiscard]] std::uint32_t BaudRateValue(TBaudRate rate);

class SerialMonitor;
class SerialWriter;

// Ownership: owns its sub-objects, the device fd while open, the monitoring
// thread and the writer thread. Lives on the thread that created it (the UI
// thread): every property, operation and event is used there. The data and
// device-event handlers run there too when synchronize() is true (the
// default); with synchronize() false they run on the monitoring thread. Never delete it from inside one of
// its handlers: use deleteLater().
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

    [[nodiscard]] TBaudRate baudRate();
    void setBaudRate(TBaudRate value);
    [[nodiscard]] std::uint32_t baudValue();
    void setBaudValue(std::uint32_t value);
    [[nodiscard]] SerialQueues &queues() { return queues_; }
    [[nodiscard]] SerialFraming &framing() { return framing_; }
    [[nodiscard]] const QString &deviceName() const { return deviceName_; }
    void setDeviceName(const QString &value);
    [[nodiscard]] TDTRSettings dtrSettings();
    void setDtrSettings(TDTRSettings value);
    [[nodiscard]] SerialEventChars &eventChars() { return eventChars_; }
    [[nodiscard]] TDeviceEvents monitorEvents() const { return monitorEvents_; }
    void setMonitorEvents(TDeviceEvents value) { monitorEvents_ = value; }
    [[nodiscard]] TFlowControl flowControl() const { return flowControl_; }
    void setFlowControl(TFlowControl value);
    [[nodiscard]] TCommOptions options() const { return options_; }
    void setOptions(TCommOptions value);
    [[nodiscard]] TRTSSettings rtsSettings();
    void setRtsSettings(TRTSSettings value);
    [[nodiscard]] bool synchronize() const { return synchronize_; }
    void setSynchronize(bool value);
    [[nodiscard]] SerialTimeouts &timeouts() { return timeouts_; }
    [[nodiscard]] TXOnXOffSettings xonXoffSettings();
    void setXonXoffSettings(TXOnXOffSettings value);

    // False, with nothing raised, when the device cannot be opened.
    virtual bool open();
    virtual void close();
    [[nodiscard]] virtual int lockState() const;
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }

    // Synchronous writing: waits on the calling thread, up to the time-outs,
    // while the device does not take the bytes, and raises the send handler
    // and deOutEmpty for each piece.
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

    using DeviceEventHandler = std::function<void(QObject *sender, TDeviceEvents events)>;
    using DataHandler = std::function<void(QObject *sender, int received)>;
    using TransferHandler = std::function<void(QObject *sender)>;
    // The handlers; an empty one is skipped. Set them on the UI thread only.
    // Data arrived (with the count of bytes waiting):
    void setDataHandler(DataHandler h) { dataHandler_ = std::move(h); }
    // The monitored device events that occurred:
    void setDeviceEventHandler(DeviceEventHandler h) { deviceEventHandler_ = std::move(h); }
    // A piece was read by readData, or written by writeData:
    void setReadHandler(TransferHandler h) { readHandler_ = std::move(h); }
    void setSendHandler(TransferHandler h) { sendHandler_ = std::move(h); }

protected:
    void dispatchDeviceEvents(TDeviceEvents events);

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
    // Runs the send or read handler with its lock bit set. False when the
    // handler destroyed the component.
    bool runLocked(int lockBit, const TransferHandler &handler);
    // How long one write piece of size bytes may wait for the device.
    [[nodiscard]] int pieceWaitMs(int size) const;
    // Writes what the device takes of one piece within waitMs; -1 when the
    // device failed.
    int writePiece(const char *data, int size, int waitMs);

    int fd_ = -1;
    TBaudRate baudRate_ = br9600;
    std::uint32_t baudValue_ = 9600;
    SerialQueues queues_{*this};
    SerialFraming framing_{*this};
    QString deviceName_ = QStringLiteral("COM2");
    TDTRSettings dtrSettings_;
    SerialEventChars eventChars_{*this};
    TDeviceEvents monitorEvents_ = deChar | deFlag | deOutEmpty;
    TFlowControl flowControl_ = fcNone;
    TCommOptions options_;
    TRTSSettings rtsSettings_;
    bool synchronize_ = true;
    SerialTimeouts timeouts_{*this};
    TXOnXOffSettings xonXoffSettings_;
    std::unique_ptr<SerialMonitor> thread_;
    std::unique_ptr<SerialWriter> writer_; // made by the first queueWrite
    int lockFlags_ = 0;
    std::atomic<bool> closing_{false};
    std::atomic<bool> destroying_{false};
    serial_device::SavedAttributes saved_;
    DataHandler dataHandler_;
    DeviceEventHandler deviceEventHandler_;
    TransferHandler readHandler_;
    TransferHandler sendHandler_;
};
