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

TBaudRate SerialPort::baudRate()
{
    if (isOpen() && baudRate_ != brCustom) {
        serial_device::LineState state;
        if (serial_device::readLineState(fd_, state)) {
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

void SerialPort::setBaudRate(TBaudRate value)
{
    if (value == baudRate_)
        return;
    baudRate_ = value;
    if (value != brCustom) {
        baudValue_ = BaudRateValue(value);
        applyLineSettings();
    }
}

std::uint32_t SerialPort::baudValue()
{
    serial_device::LineState state;
    if (isOpen() && serial_device::readLineState(fd_, state))
        baudValue_ = state.rate;
    return baudValue_;
}

void SerialPort::setBaudValue(std::uint32_t value)
{
    if (baudRate_ != brCustom || value == baudValue_)
        return;
    baudValue_ = value;
    applyLineSettings();
}

TDTRSettings SerialPort::dtrSettings()
{
    serial_device::LineState state;
    if (!isOpen() || !serial_device::readLineState(fd_, state) || !state.modemLinesKnown)
        return dtrSettings_;
    // DSR flow and DTR handshake have no counterpart in the line discipline;
    // they read back as set. Under handshake the line is held on, which does
    // not make it "enabled".
    TDTRSettings settings = dtrSettings_ & ~TDTRSettings(fsDTREnabled);
    if (state.dtr && !(dtrSettings_ & fsDTRHandshake))
        settings |= fsDTREnabled;
    return settings;
}

void SerialPort::setDtrSettings(TDTRSettings value)
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
    applyLineSettings();
}

void SerialPort::setFlowControl(TFlowControl value)
{
    if (value == flowControl_)
        return;
    flowControl_ = value;
    if (value == fcCustom)
        return;
    applyFlowControlTable();
    applyLineSettings();
}

void SerialPort::applyFlowControlTable()
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
    applyLeaveDtrOpenRule();
}

void SerialPort::applyLeaveDtrOpenRule()
{
    if (options_ & coLeaveDTROpen) {
        dtrSettings_ &= ~TDTRSettings(fsDTRHandshake);
        dtrSettings_ |= fsDTREnabled;
    }
}

void SerialPort::setOptions(TCommOptions value)
{
    if (value == options_)
        return;
    options_ = value;
    applyLineSettings();
}

TRTSSettings SerialPort::rtsSettings()
{
    serial_device::LineState state;
    if (!isOpen() || !serial_device::readLineState(fd_, state))
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

void SerialPort::setRtsSettings(TRTSSettings value)
{
    if (flowControl_ != fcCustom || value == rtsSettings_)
        return;
    rtsSettings_ = value;
    applyLineSettings();
}

TXOnXOffSettings SerialPort::xonXoffSettings()
{
    serial_device::LineState state;
    if (!isOpen() || !serial_device::readLineState(fd_, state))
        return xonXoffSettings_;
    TXOnXOffSettings settings;
    if (state.inputXonXoff)
        settings |= fsInX;
    if (state.outputXonXoff)
        settings |= fsOutX;
    return settings;
}

void SerialPort::setXonXoffSettings(TXOnXOffSettings value)
{
    if (flowControl_ != fcCustom || value == xonXoffSettings_)
        return;
    xonXoffSettings_ = value;
    applyLineSettings();
}

// --- applying settings to the open device ------------------------------------

void SerialPort::applyLineSettings()
{
    if (!isOpen())
        return;
    serial_device::LineSettings s;
    s.rate = baudValue_;
    s.dataBits = 4 + int(framing_.dataBits());
    s.parity = int(framing_.parity());
    s.stopBits = int(framing_.stopBits());
    s.ctsRtsFlow = (rtsSettings_ & (fsCTSOut | fsRTSHandshake)) != 0;
    s.inputXonXoff = (xonXoffSettings_ & fsInX) != 0;
    s.outputXonXoff = (xonXoffSettings_ & fsOutX) != 0;
    s.parityCheck = (options_ & coParityCheck) != 0;
    s.hangUpOnClose = !(options_ & coLeaveDTROpen);
    // The end-of-file and error characters have no use on a raw line, and the
    // line discipline keeps its own XON/XOFF thresholds.
    s.xonChar = static_cast<unsigned char>(eventChars_.xonChar());
    s.xoffChar = static_cast<unsigned char>(eventChars_.xoffChar());
    // DTR handshake has no line-discipline counterpart; the line is held on.
    s.dtr = (dtrSettings_ & (fsDTREnabled | fsDTRHandshake)) || (options_ & coLeaveDTROpen);
    s.rts = (rtsSettings_ & fsRTSEnabled) != 0;
    if (thread_)
        thread_->setEventChar(static_cast<unsigned char>(eventChars_.eventChar()));
    if (!serial_device::applyLineSettings(fd_, s))
        fail("Unable to update device control block.", kControlBlock);
}

void SerialPort::applyQueues()
{
    if (!isOpen())
        return;
    // The kernel's queues have fixed sizes; ours bounds the bytes the
    // monitoring thread takes in ahead of readData, and outputSize bounds
    // each write piece.
    if (thread_) {
        thread_->setInputLimit(queues_.inputSize());
        thread_->discard();
    }
    if (!serial_device::flushQueues(fd_))
        fail("Unable to update IO buffers.", kBuffers);
}
