#include "endpoints/serialbridge.h"

#include "core/errors.h"
#include "core/logtexts.h"
#include "net/serial/serialport.h"
#include "session/endpointsession.h"

#include <utility>

SerialBridge::SerialBridge(
    EndpointSession *session, std::function<void(const QByteArray &)> sendToPeer, const QString &deviceName)
    : session_(session)
    , sendToPeer_(std::move(sendToPeer))
    , port_(std::make_unique<SerialPort>())
{
    // The port's settings as a data window's port always started, then the
    // bridge's own line: 28800 8N1, DTR and RTS on.
    SerialPort &p = *port_;
    p.setDeviceName(QStringLiteral("COM1"));
    p.setBaudRate(BaudRate::Baud9600);
    p.framing().setDataBits(DataBits::Eight);
    p.framing().setParity(Parity::None);
    p.framing().setStopBits(StopBits::One);
    p.setFlowControl(FlowControl::None);
    p.queues().setInputSize(2048);
    p.queues().setOutputSize(2048);
    p.queues().setInputTimeout(500);
    p.queues().setOutputTimeout(500);
    p.timeouts().setReadInterval(1);
    p.timeouts().setReadMultiplier(0);
    p.timeouts().setReadConstant(1);
    p.timeouts().setWriteMultiplier(0);
    p.timeouts().setWriteConstant(1);
    p.eventChars().setXonChar(17);
    p.eventChars().setXoffChar(19);
    p.eventChars().setEofChar(0);
    p.eventChars().setErrorChar(0);
    p.eventChars().setEventChar(10);
    p.setMonitorEvents(DeviceEvent::CharReceived | DeviceEvent::EventChar | DeviceEvent::OutputEmpty);
    p.setSynchronize(true);

    p.setBaudRate(BaudRate::Custom);
    p.setBaudValue(28800);
    p.setDeviceName(deviceName.isEmpty() ? QStringLiteral("com1") : deviceName);
    p.setFlowControl(FlowControl::Custom);
    p.setDtrSettings(DtrSettings(DtrSetting::On));
    p.setRtsSettings(RtsSettings(RtsSetting::On));
    p.timeouts().setWriteConstant(500);
    p.timeouts().setWriteMultiplier(20);
    p.timeouts().setReadInterval(100);
    p.timeouts().setReadConstant(20);
    p.timeouts().setReadMultiplier(20);
    // The bridge opens the port synchronised: data comes on this thread.
    connect(&p, &SerialPort::dataReceived, this, &SerialBridge::forwardSerialInput);
}

SerialBridge::~SerialBridge()
{
    // Nothing reaches the window or the peer from a bridge on its way out.
    disconnect(port_.get(), nullptr, this, nullptr);
    close();
}

bool SerialBridge::open()
{
    try {
        return port_->open();
    } catch (...) {
        // A device that refuses the line settings is no serial line (a
        // /dev/zero would flood the peer): it is not kept open.
        close();
        throw;
    }
}

void SerialBridge::close()
{
    if (port_->isOpen())
        port_->close();
}

void SerialBridge::forwardSerialInput()
{
    QByteArray data;
    port_->read(data);
    if (data.isEmpty() || !sendToPeer_)
        return;
    // A failed forward (a UDP Server that has no peer yet) is noted in the
    // log once, until a forward works again; the serial input keeps working.
    try {
        sendToPeer_(data);
        forwardFailing_ = false;
    } catch (const std::exception &e) {
        if (!std::exchange(forwardFailing_, true))
            note(tr(" 串口数据转发失败：") + ExceptionMessage(e));
    }
}

void SerialBridge::forwardToSerial(const QByteArray &data)
{
    if (!port_->isOpen())
        return;
    const qsizetype dropped = data.size() - port_->queueWrite(data);
    if (dropped == 0) {
        overflowing_ = false;
        return;
    }
    if (!overflowing_)
        note(tr(" 串口发送缓冲区已满，已丢弃 %1 字节").arg(dropped));
    overflowing_ = true;
}

void SerialBridge::note(const QString &text)
{
    if (session_)
        session_->logStatus(text);
}
