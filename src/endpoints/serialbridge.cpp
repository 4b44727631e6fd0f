#include "endpoints/serialbridge.h"

#include "core/errors.h"
#include "core/logtexts.h"
#include "datawindow/datawindow.h"
#include "net/serial/serialport.h"

SerialBridge::SerialBridge(DataWindow *window, std::function<void(const QByteArray &)> sendToPeer)
    : window_(window)
    , sendToPeer_(std::move(sendToPeer))
    , port_(std::make_unique<SerialPort>())
{
    // The port's settings as a data window's port always started, then the
    // bridge's own line: 28800 8N1, DTR and RTS on.
    SerialPort &p = *port_;
    p.SetDeviceName(QStringLiteral("COM1"));
    p.SetBaudRate(br9600);
    p.DataControl().SetDataBits(db8);
    p.DataControl().SetParity(paNone);
    p.DataControl().SetStopBits(sb1);
    p.SetFlowControl(fcNone);
    p.Buffers().SetInputSize(2048);
    p.Buffers().SetOutputSize(2048);
    p.Buffers().SetInputTimeout(500);
    p.Buffers().SetOutputTimeout(500);
    p.Timeouts().SetReadInterval(1);
    p.Timeouts().SetReadMultiplier(0);
    p.Timeouts().SetReadConstant(1);
    p.Timeouts().SetWriteMultiplier(0);
    p.Timeouts().SetWriteConstant(1);
    p.EventChars().SetXonChar(17);
    p.EventChars().SetXoffChar(19);
    p.EventChars().SetEofChar(0);
    p.EventChars().SetErrorChar(0);
    p.EventChars().SetEventChar(10);
    p.SetMonitorEvents(deChar | deFlag | deOutEmpty);
    p.SetSynchronize(true);

    p.SetBaudRate(brCustom);
    p.SetBaudValue(28800);
    p.SetDeviceName(QStringLiteral("com1"));
    p.SetFlowControl(fcCustom);
    p.SetDTRSettings(TDTRSettings(fsDTREnabled));
    p.SetRTSSettings(TRTSSettings(fsRTSEnabled));
    p.Timeouts().SetWriteConstant(500);
    p.Timeouts().SetWriteMultiplier(20);
    p.Timeouts().SetReadInterval(100);
    p.Timeouts().SetReadConstant(20);
    p.Timeouts().SetReadMultiplier(20);
    p.OnData = [this](QObject *, int) { forwardSerialInput(); };
}

SerialBridge::~SerialBridge()
{
    // Nothing reaches the window or the peer from a bridge on its way out.
    port_->OnData = nullptr;
    close();
}

bool SerialBridge::open()
{
    return port_->Open();
}

void SerialBridge::close()
{
    if (port_->IsOpen())
        port_->Close();
}

void SerialBridge::forwardSerialInput()
{
    QByteArray data;
    port_->ReadString(data);
    if (data.isEmpty() || !sendToPeer_)
        return;
    // A failed forward (a UDP Server that has no peer yet) is noted in the
    // log; the serial input keeps working.
    try {
        sendToPeer_(data);
    } catch (const std::exception &e) {
        note(TimeText() + QStringLiteral(" 串口数据转发失败：") + ExceptionMessage(e));
    }
}

void SerialBridge::forwardToSerial(const QByteArray &data)
{
    if (!port_->IsOpen())
        return;
    const qsizetype dropped = data.size() - port_->QueueWrite(data);
    if (dropped == 0) {
        overflowing_ = false;
        return;
    }
    if (!overflowing_)
        note(TimeText() + QStringLiteral(" 串口发送缓冲区已满，已丢弃 %1 字节").arg(dropped));
    overflowing_ = true;
}

void SerialBridge::note(const QString &text)
{
    if (window_)
        window_->appendLogLine(text);
}
