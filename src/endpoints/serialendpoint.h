#pragma once
// A serial endpoint's device at work. It opens the device by the endpoint's
// setup, frames what arrives into messages for the session's log and
// automatic replies, carries the window's DTR, RTS and break requests to
// the device and the modem lines back, and notices when the device goes
// away: the log says so once, the endpoint shows closed and keeps its log
// and setup, and with reconnecting on, the same device (by the stable name
// it had when it opened) is opened again once it is back.
//
// Ownership: the endpoint's transport, a child of the controller; owns its
// channel, framer and reconnect timer. Refers to its record and session,
// which outlive it (the controller releases the transport first). UI thread
// only.

#include "net/serial/serialchannel.h"
#include "session/serialsetup.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class Endpoint;
class EndpointController;
class EndpointSession;
class MessageFramer;

class SerialEndpoint : public QObject {
    Q_OBJECT

public:
    // How often an unplugged device is looked for: a stat of its name.
    static constexpr int ReconnectPollMs = 500;
    // A break as long as many devices take for one (a quarter second).
    static constexpr int BreakMs = 250;

    SerialEndpoint(EndpointController &controller, Endpoint &record, const SerialSetup &setup);
    ~SerialEndpoint() override;

    [[nodiscard]] const SerialSetup &setup() const { return setup_; }
    [[nodiscard]] bool isOpen() const { return channel_->isOpen(); }
    // The device opened last, as the system names it now.
    [[nodiscard]] QString openedPath() const { return openedPath_; }

    // Opens the device. A failure is told to the user (which group to join
    // for a permission problem). By the user: reconnecting is on again.
    bool open();
    // By the user: reconnecting ends until the next open.
    void close();
    // Queues bytes for the device; how many it took.
    qsizetype write(const QByteArray &bytes);
    [[nodiscard]] bool hasRoomFor(qsizetype size) const;
    [[nodiscard]] bool isIdle() const { return channel_->bytesToWrite() == 0; }
    // Before the endpoint goes: nothing more is reported.
    void shutDown();

    // The message that tells why a device did not open.
    [[nodiscard]] static QString openFailureText(
        const QString &device, const SerialChannel::OpenResult &result, const SerialSetup &setup);

private:
    [[nodiscard]] bool openDevice(const QString &device, bool quietly);
    void received(const QByteArray &message);
    void lost(int errorNumber, qint64 unsentBytes);
    void lookForDevice();
    void showLines();
    void stateChanged();
    [[nodiscard]] EndpointSession *session() const;

    EndpointController &controller_;
    Endpoint &record_;
    SerialSetup setup_;
    SerialChannel *channel_;
    MessageFramer *framer_;
    QTimer reconnect_;
    QString openedPath_;
    // The by-id name of the device opened last: an adapter plugged back may
    // come back under another ttyUSB number.
    QString stableName_;
    bool shutDown_ = false;
};
