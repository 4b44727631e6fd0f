// SerialPort's line settings: bit rate, framing, flow control and the modem
// lines, kept in members while the port is closed and applied to the device
// at once while it is open.

#include "net/serial/serialport.h"

#include "net/serial/serialmonitor.h"
#include "net/serial/serialport_internal.h"

using namespace serial_port_internal;

std::uint32_t BaudRateValue(TBaudRate rate)
{
    static constexpr std::uint32_t rates[]
        = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rate >= br110 && rate < brCustom ? rates[rate] : 0;
}
// --- properties --------------------------------------------------------------

TBaudRate SerialPort::BaudRate()
{
    if (IsOpen() && baudRate_ != brCustom) {
        serial_device::LineState state;
        if (serial_device::ReadLineState(fd_, state)) {
            baudRate_ = brCustom;
            for (int r = br110; r < brCustom; ++r) {
                if (BaudRateValue(TBaudRate(r)) == state.rate) {
                    baudRate_ = TBaudRate(r);
                    break;
                }
            }
        }
    }
    return baudRate_;
}

void SerialPort::SetBaudRate(TBaudRate value)
{
    if (value == baudRate_)
        return;
    baudRate_ = value;
    if (value != brCustom) {
        baudValue_ = BaudRateValue(value);
        ApplyLineSettings();
    }
}

std::uint32_t SerialPort::BaudValue()
{
    serial_device::LineState state;
    if (IsOpen() && serial_device::ReadLineState(fd_, state))
        baudValue_ = state.rate;
    return baudValue_;
}

void SerialPort::SetBaudValue(std::uint32_t value)
{
    if (baudRate_ != brCustom || value == baudValue_)
        return;
    baudValue_ = value;
    ApplyLineSettings();
}

TDTRSettings SerialPort::DTRSettings()
{
    serial_device::LineState state;
    if (!IsOpen() || !serial_device::ReadLineState(fd_, state) || !state.modemLinesKnown)
        return dtrSettings_;
    // DSR flow and DTR handshake have no counterpart in the line discipline;
    // they read back as set. Under handshake the line is held on, which does
    // not make it "enabled".
    TDTRSettings settings = dtrSettings_ & ~TDTRSettings(fsDTREnabled);
    if (state.dtr && !(dtrSettings_ & fsDTRHandshake))
        settings |= fsDTREnabled;
    return settings;
}

void SerialPort::SetDTRSettings(TDTRSettings value)
{
    if (flowControl_ != fcCustom)
        return;
    if (options_ & coLeaveDTROpen) {
        value &= ~TDTRSettings(fsDTRHandshake);
        value |= fsDTREnabled;
    }
    if ((value & fsDTREnabled) && (value & fsDTRHandshake)) {
        // Enabled and handshake exclude each other: the one just added wins.
        if (dtrSettings_ & fsDTRHandshake)
            value &= ~TDTRSettings(fsDTRHandshake);
        else
            value &= ~TDTRSettings(fsDTREnabled);
    }
    if (value == dtrSettings_)
        return;
    dtrSettings_ = value;
    ApplyLineSettings();
}

void SerialPort::SetFlowControl(TFlowControl value)
{
    if (value == flowControl_)
        return;
    flowControl_ = value;
    if (value == fcCustom)
        return;
    ApplyFlowControlTable();
    ApplyLineSettings();
}

void SerialPort::ApplyFlowControlTable()
{
    switch (flowControl_) {
    case fcNone:
        rtsSettings_ = {};
        dtrSettings_ = {};
        xonXoffSettings_ = {};
        break;
    case fcRtsCts:
        rtsSettings_ = fsCTSOut | fsRTSHandshake;
        dtrSettings_ = fsDTREnabled;
        xonXoffSettings_ = {};
        break;
    case fcDtrDsr:
        rtsSettings_ = fsRTSEnabled;
        dtrSettings_ = fsDSROut | fsDTREnabled;
        xonXoffSettings_ = {};
        break;
    case fcSoftware:
        rtsSettings_ = {};
        dtrSettings_ = fsDTREnabled;
        xonXoffSettings_ = fsInX | fsOutX;
        break;
    case fcCustom:
        break;
    }
    LeaveDtrOpenRule();
}

void SerialPort::LeaveDtrOpenRule()
{
    if (options_ & coLeaveDTROpen) {
        dtrSettings_ &= ~TDTRSettings(fsDTRHandshake);
        dtrSettings_ |= fsDTREnabled;
    }
}

void SerialPort::SetOptions(TCommOptions value)
{
    if (value == options_)
        return;
    options_ = value;
    ApplyLineSettings();
}

TRTSSettings SerialPort::RTSSettings()
{
    serial_device::LineState state;
    if (!IsOpen() || !serial_device::ReadLineState(fd_, state))
        return rtsSettings_;
    // One termios flag stands for both CTS output flow and RTS handshake.
    const TRTSSettings flow = fsCTSOut | fsRTSHandshake;
    TRTSSettings settings = rtsSettings_ & ~flow;
    if (state.ctsRtsFlow)
        settings |= (rtsSettings_ & flow) ? (rtsSettings_ & flow) : flow;
    if (state.modemLinesKnown && !state.ctsRtsFlow) {
        settings &= ~TRTSSettings(fsRTSEnabled);
        if (state.rts)
            settings |= fsRTSEnabled;
    }
    return settings;
}

void SerialPort::SetRTSSettings(TRTSSettings value)
{
    if (flowControl_ != fcCustom || value == rtsSettings_)
        return;
    rtsSettings_ = value;
    ApplyLineSettings();
}

TXOnXOffSettings SerialPort::XOnXOffSettings()
{
    serial_device::LineState state;
    if (!IsOpen() || !serial_device::ReadLineState(fd_, state))
        return xonXoffSettings_;
    TXOnXOffSettings settings;
    if (state.inputXonXoff)
        settings |= fsInX;
    if (state.outputXonXoff)
        settings |= fsOutX;
    return settings;
}

void SerialPort::SetXOnXOffSettings(TXOnXOffSettings value)
{
    if (flowControl_ != fcCustom || value == xonXoffSettings_)
        return;
    xonXoffSettings_ = value;
    ApplyLineSettings();
}

// --- applying settings to the open device ------------------------------------

void SerialPort::ApplyLineSettings()
{
    if (!IsOpen())
        return;
    serial_device::LineSettings s;
    s.rate = baudValue_;
    s.dataBits = 4 + int(dataControl_.DataBits());
    s.parity = int(dataControl_.Parity());
    s.stopBits = int(dataControl_.StopBits());
    s.ctsRtsFlow = (rtsSettings_ & (fsCTSOut | fsRTSHandshake)) != 0;
    s.inputXonXoff = (xonXoffSettings_ & fsInX) != 0;
    s.outputXonXoff = (xonXoffSettings_ & fsOutX) != 0;
    s.parityCheck = (options_ & coParityCheck) != 0;
    s.hangUpOnClose = !(options_ & coLeaveDTROpen);
    // The end-of-file and error characters have no use on a raw line, and the
    // line discipline keeps its own XON/XOFF thresholds.
    s.xonChar = static_cast<unsigned char>(eventChars_.XonChar());
    s.xoffChar = static_cast<unsigned char>(eventChars_.XoffChar());
    // DTR handshake has no line-discipline counterpart; the line is held on.
    s.dtr = (dtrSettings_ & (fsDTREnabled | fsDTRHandshake)) || (options_ & coLeaveDTROpen);
    s.rts = (rtsSettings_ & fsRTSEnabled) != 0;
    if (thread_)
        thread_->SetEventChar(static_cast<unsigned char>(eventChars_.EventChar()));
    if (!serial_device::ApplyLineSettings(fd_, s))
        fail("Unable to update device control block.", kControlBlock);
}

void SerialPort::ApplyBuffers()
{
    if (!IsOpen())
        return;
    // The kernel's queues have fixed sizes; ours bounds the bytes the
    // monitoring thread takes in ahead of ReadData, and OutputSize bounds
    // each write piece.
    if (thread_) {
        thread_->SetInputLimit(buffers_.InputSize());
        thread_->Discard();
    }
    if (!serial_device::FlushQueues(fd_))
        fail("Unable to update IO buffers.", kBuffers);
}
