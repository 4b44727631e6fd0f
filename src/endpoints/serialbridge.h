#pragma once
// The bridge between a UDP Server endpoint and the serial port "com1": every
// datagram the server receives goes out to the port, and what arrives from
// the port goes back to the server's latest peer.
//
// Ownership and threading: owned by its UDP Server endpoint; owns the serial
// port. Writes to the port go through the port's bounded queue and its writer
// thread, so a device that does not drain never holds up the window; what
// does not fit is dropped with one log line per episode. The bridge notes
// into the endpoint's session while that exists. UI thread only.

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class EndpointSession;
class SerialPort;

class SerialBridge : public QObject {
    Q_OBJECT

public:
    // sendToPeer sends bytes from the port on to the server's latest peer; it
    // may raise (no peer yet), which is noted in the window's log.
    // deviceName names the port as "com1" does; empty is "com1" itself.
    SerialBridge(EndpointSession *session, std::function<void(const QByteArray &)> sendToPeer,
        const QString &deviceName = QString());
    ~SerialBridge() override;

    // Opens "com1" with the bridge's line settings; raises when the port
    // opens but refuses them, and leaves it closed then. False when there is
    // no such port.
    bool open();
    void close();
    [[nodiscard]] SerialPort &port() const { return *port_; }

    // Hands a received datagram to the port while it is open.
    void forwardToSerial(const QByteArray &data);

private:
    void forwardSerialInput();
    // A status line in the session's log.
    void note(const QString &text);

    QPointer<EndpointSession> session_;
    std::function<void(const QByteArray &)> sendToPeer_;
    std::unique_ptr<SerialPort> port_;
    bool overflowing_ = false; // the last datagram did not fit the queue
    bool forwardFailing_ = false; // the last serial piece could not be forwarded
};
