#include "endpoints/serialendpoint.h"

#include "core/errors.h"
#include "endpoints/endpoint.h"
#include "endpoints/endpointcontroller.h"
#include "net/serial/serialdevicelist.h"
#include "session/endpointsession.h"
#include "session/messageframer.h"
#include "session/seriallines.h"

#include <QFileInfo>

#include <cstring>

namespace {

serial_device::LineSettings lineSettings(const SerialSetup &setup)
{
    serial_device::LineSettings line;
    line.rate = setup.baud;
    line.dataBits = setup.dataBits;
    line.parity = int(setup.parity); // none, odd, even, mark, space in both
    line.stopBits = setup.stopBits == 2 ? 2 : 0;
    line.ctsRtsFlow = setup.flow == SerialFlow::RtsCts;
    line.inputXonXoff = setup.flow == SerialFlow::XonXoff;
    line.outputXonXoff = setup.flow == SerialFlow::XonXoff;
    line.dtr = setup.dtr;
    line.rts = setup.rts;
    return line;
}

QString errorText(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

// The by-id name that points at the device now open, if it has one.
QString stableNameOf(const QString &device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    for (const SerialDeviceInfo &info : listSerialDevices())
        if (!info.stableName.isEmpty() && QFileInfo(info.path).canonicalFilePath() == canonical)
            return info.stableName;
    return {};
}

} // namespace

SerialEndpoint::SerialEndpoint(EndpointController &controller, Endpoint &record, const SerialSetup &setup)
    : QObject(&controller)
    , controller_(controller)
    , record_(record)
    , setup_(setup)
    , channel_(new SerialChannel(this))
    , framer_(new MessageFramer(setup, this))
{
    reconnect_.setInterval(ReconnectPollMs);
    connect(&reconnect_, &QTimer::timeout, this, [this] { Guarded([this] { lookForDevice(); }); });
    // A framer that is behind (a flood of tiny messages) holds the channel
    // back: what arrives meanwhile waits with its reader, within its bound.
    connect(channel_, &SerialChannel::dataReceived, this, [this](const QByteArray &bytes) {
        framer_->feed(bytes);
        if (framer_->backlog() > 0)
            channel_->pauseReceiving();
    });
    connect(framer_, &MessageFramer::caughtUp, channel_, &SerialChannel::resumeReceiving);
    connect(framer_, &MessageFramer::message, this, &SerialEndpoint::received);
    connect(channel_, &SerialChannel::deviceLost, this, &SerialEndpoint::lost);
    connect(channel_, &SerialChannel::modemLinesChanged, this, &SerialEndpoint::showLines);
    // The window's switches reach the device while it is open.
    if (EndpointSession *s = record.session.data()) {
        SerialLines &lines = s->makeSerialLines();
        // A device opened again holds the levels last asked for.
        connect(&lines, &SerialLines::dtrRequested, this, [this](bool on) {
            setup_.dtr = on;
            (void)channel_->setDtr(on);
        });
        connect(&lines, &SerialLines::rtsRequested, this, [this](bool on) {
            setup_.rts = on;
            (void)channel_->setRts(on);
        });
        connect(&lines, &SerialLines::breakRequested, this, [this] { (void)channel_->sendBreak(BreakMs); });
    }
}

SerialEndpoint::~SerialEndpoint() = default;

EndpointSession *SerialEndpoint::session() const
{
    return shutDown_ ? nullptr : record_.session.data();
}

void SerialEndpoint::shutDown()
{
    shutDown_ = true;
    reconnect_.stop();
    framer_->reset();
    disconnect(channel_, nullptr, this, nullptr);
    channel_->close();
}

bool SerialEndpoint::open()
{
    if (channel_->isOpen())
        return true;
    reconnect_.stop();
    if (!openDevice(setup_.device, false)) {
        // Still looked for: the adapter may be plugged in a moment later.
        if (setup_.autoReconnect)
            reconnect_.start();
        return false;
    }
    return true;
}

bool SerialEndpoint::openDevice(const QString &device, bool quietly)
{
    const SerialChannel::OpenResult result = channel_->open(device, lineSettings(setup_));
    if (!result.ok()) {
        if (!quietly)
            emit controller_.messageForUser(openFailureText(device, result, setup_));
        return false;
    }
    openedPath_ = QFileInfo(device).canonicalFilePath();
    if (const QString stable = stableNameOf(device); !stable.isEmpty())
        stableName_ = stable;
    stateChanged();
    return true;
}

void SerialEndpoint::close()
{
    reconnect_.stop();
    framer_->flush();
    channel_->close();
    stateChanged();
}

qsizetype SerialEndpoint::write(const QByteArray &bytes)
{
    return channel_->isOpen() ? channel_->write(bytes) : 0;
}

bool SerialEndpoint::hasRoomFor(qsizetype size) const
{
    return channel_->isOpen() && channel_->bytesToWrite() + size <= SerialChannel::OutputLimit;
}

void SerialEndpoint::received(const QByteArray &message)
{
    EndpointSession *s = session();
    if (!s)
        return;
    s->logReceived(message);
    if (const auto reply = s->autoReplyTo(message))
        s->sendReply(*reply);
}

void SerialEndpoint::lost(int errorNumber, qint64 unsentBytes)
{
    // What arrived before the device went is a message of its own.
    framer_->flush();
    if (EndpointSession *s = session()) {
        QString text = tr(" 串口已断开：%1").arg(errorText(errorNumber));
        if (unsentBytes > 0)
            text += tr("，%1 字节未发出").arg(unsentBytes);
        s->logStatus(text);
    }
    stateChanged();
    if (setup_.autoReconnect && !shutDown_)
        reconnect_.start();
}

void SerialEndpoint::lookForDevice()
{
    const QString name = stableName_.isEmpty() ? setup_.device : stableName_;
    if (currentSerialDevicePath(name).isEmpty())
        return;
    // Opened by its stable name, so the settings meet the same adapter.
    if (!openDevice(name, true))
        return; // busy or not ready yet (its group is set a moment after it appears)
    reconnect_.stop();
    if (EndpointSession *s = session())
        s->logStatus(tr(" 串口已重新打开：%1").arg(openedPath_));
}

void SerialEndpoint::showLines()
{
    EndpointSession *s = session();
    if (!s || !s->serialLines())
        return;
    SerialLines::Levels levels;
    const SerialChannel::ModemLines lines = channel_->modemLines();
    levels.dtr = lines.testFlag(SerialChannel::Dtr);
    levels.rts = lines.testFlag(SerialChannel::Rts);
    levels.cts = lines.testFlag(SerialChannel::Cts);
    levels.dsr = lines.testFlag(SerialChannel::Dsr);
    levels.dcd = lines.testFlag(SerialChannel::Dcd);
    levels.ri = lines.testFlag(SerialChannel::Ri);
    const SerialLines::State state = !channel_->isOpen() ? SerialLines::State::Closed
        : channel_->hasModemLines()                      ? SerialLines::State::Open
                                                         : SerialLines::State::OpenWithoutLines;
    s->serialLines()->show(state, levels);
}

void SerialEndpoint::stateChanged()
{
    if (shutDown_)
        return;
    record_.state = channel_->isOpen() ? EndpointState::Connected : EndpointState::Disconnected;
    showLines();
    controller_.changed(record_);
}

QString SerialEndpoint::openFailureText(
    const QString &device, const SerialChannel::OpenResult &result, const SerialSetup &setup)
{
    using Error = SerialChannel::OpenError;
    switch (result.error) {
    case Error::None:
        return {};
    case Error::NotFound:
        return tr("无法打开串口 %1：设备不存在").arg(device);
    case Error::Permission:
        return tr("无法打开串口 %1：没有权限。请将当前用户加入 dialout 组"
                  "（sudo usermod -aG dialout 用户名），重新登录后再试")
            .arg(device);
    case Error::Busy:
        return tr("无法打开串口 %1：设备正被其他程序使用").arg(device);
    case Error::NotATerminal:
        return tr("无法打开串口 %1：不是串口设备").arg(device);
    case Error::SettingsRefused:
        return tr("无法打开串口 %1：设备不接受这些参数（%2）").arg(device, serialLineForm(setup));
    case Error::Other:
        break;
    }
    return tr("无法打开串口 %1：%2").arg(device, errorText(result.errorNumber));
}
