// SerialPort's line settings: bit rate, framing, flow control and the modem
// lines, kept in members while the port is closed and applied to the device
// at once while it is open.

#include "net/serial/serialport.h"

#include "net/serial/serialmonitor.h"
#include "net/serial/serialport_internal.h"

using namespace serial_port_internal;

std::uint32_t BaudRateValue(BaudRate rate)
{
    static constexpr std::uint32_t rates[]
        = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rate >= BaudRate::Baud110 && rate < BaudRate::Custom ? rates[int(rate)] : 0;
}

// --- properties --------------------------------------------------------------

BaudRate SerialPort::baudRate()
{
    if (isOpen() && baudRate_ != BaudRate::Custom) {
        serial_device::LineState state;
        if (serial_device::readLineState(fd_, state)) {
            baudRate_ = BaudRate::Custom;
            for (int r = int(BaudRate::Baud110); r < int(BaudRate::Custom); ++r) {
                if (BaudRateValue(BaudRate(r)) == state.rate) {
                    baudRate_ = BaudRate(r);
                    break;
                }
            }
        }
    }
    return baudRate_;
}

void SerialPort::setBaudRate(BaudRate value)
{
    if (value == baudRate_)
        return;
    baudRate_ = value;
    if (value != BaudRate::Custom) {
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
    if (baudRate_ != BaudRate::Custom || value == baudValue_)
        return;
    baudValue_ = value;
    applyLineSettings();
}

DtrSettings SerialPort::dtrSettings()
{
    serial_device::LineState state;
    if (!isOpen() || !serial_device::readLineState(fd_, state) || !state.modemLinesKnown)
        return dtrSettings_;
    // DSR flow and DTR handshake have no counterpart in the line discipline;
    // they read back as set. Under handshake the line is held on, which does
    // not make it "enabled".
    DtrSettings settings = dtrSettings_ & ~DtrSettings(DtrSetting::On);
    if (state.dtr && !(dtrSettings_ & DtrSetting::Handshake))
        settings |= DtrSetting::On;
    return settings;
}

void SerialPort::setDtrSettings(DtrSettings value)
{
    if (flowControl_ != FlowControl::Custom)
        return;
    if (options_ & SerialOption::LeaveDtrOpen) {
        value &= ~DtrSettings(DtrSetting::Handshake);
        value |= DtrSetting::On;
    }
    if ((value & DtrSetting::On) && (value & DtrSetting::Handshake)) {
        // Enabled and handshake exclude each other: the one just added wins.
        if (dtrSettings_ & DtrSetting::Handshake)
            value &= ~DtrSettings(DtrSetting::Handshake);
        else
            value &= ~DtrSettings(DtrSetting::On);
    }
    if (value == dtrSettings_)
        return;
    dtrSettings_ = value;
    applyLineSettings();
}

void SerialPort::setFlowControl(FlowControl value)
{
    if (value == flowControl_)
        return;
    flowControl_ = value;
    if (value == FlowControl::Custom)
        return;
    applyFlowControlTable();
    applyLineSettings();
}

void SerialPort::applyFlowControlTable()
{
    switch (flowControl_) {
    case FlowControl::None:
        rtsSettings_ = {};
        dtrSettings_ = {};
        xonXoffSettings_ = {};
        break;
    case FlowControl::RtsCts:
        rtsSettings_ = RtsSetting::CtsOutputFlow | RtsSetting::Handshake;
        dtrSettings_ = DtrSetting::On;
        xonXoffSettings_ = {};
        break;
    case FlowControl::DtrDsr:
        rtsSettings_ = RtsSetting::On;
        dtrSettings_ = DtrSetting::DsrOutputFlow | DtrSetting::On;
        xonXoffSettings_ = {};
        break;
    case FlowControl::Software:
        rtsSettings_ = {};
        dtrSettings_ = DtrSetting::On;
        xonXoffSettings_ = XonXoff::Input | XonXoff::Output;
        break;
    case FlowControl::Custom:
        break;
    }
    applyLeaveDtrOpenRule();
}

void SerialPort::applyLeaveDtrOpenRule()
{
    if (options_ & SerialOption::LeaveDtrOpen) {
        dtrSettings_ &= ~DtrSettings(DtrSetting::Handshake);
        dtrSettings_ |= DtrSetting::On;
    }
}

void SerialPort::setOptions(SerialOptions value)
{
    if (value == options_)
        return;
    options_ = value;
    applyLineSettings();
}

RtsSettings SerialPort::rtsSettings()
{
    serial_device::LineState state;
    if (!isOpen() || !serial_device::readLineState(fd_, state))
        return rtsSettings_;
    // One termios flag stands for both CTS output flow and RTS handshake.
    const RtsSettings flow = RtsSetting::CtsOutputFlow | RtsSetting::Handshake;
    RtsSettings settings = rtsSettings_ & ~flow;
    if (state.ctsRtsFlow)
        settings |= (rtsSettings_ & flow) ? (rtsSettings_ & flow) : flow;
    if (state.modemLinesKnown && !state.ctsRtsFlow) {
        settings &= ~RtsSettings(RtsSetting::On);
        if (state.rts)
            settings |= RtsSetting::On;
    }
    return settings;
}

void SerialPort::setRtsSettings(RtsSettings value)
{
    if (flowControl_ != FlowControl::Custom || value == rtsSettings_)
        return;
    rtsSettings_ = value;
    applyLineSettings();
}

XonXoffSettings SerialPort::xonXoffSettings()
{
    serial_device::LineState state;
    if (!isOpen() || !serial_device::readLineState(fd_, state))
        return xonXoffSettings_;
    XonXoffSettings settings;
    if (state.inputXonXoff)
        settings |= XonXoff::Input;
    if (state.outputXonXoff)
        settings |= XonXoff::Output;
    return settings;
}

void SerialPort::setXonXoffSettings(XonXoffSettings value)
{
    if (flowControl_ != FlowControl::Custom || value == xonXoffSettings_)
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
    s.ctsRtsFlow = (rtsSettings_ & (RtsSetting::CtsOutputFlow | RtsSetting::Handshake)) != 0;
    s.inputXonXoff = (xonXoffSettings_ & XonXoff::Input) != 0;
    s.outputXonXoff = (xonXoffSettings_ & XonXoff::Output) != 0;
    s.parityCheck = (options_ & SerialOption::ParityCheck) != 0;
    s.hangUpOnClose = !(options_ & SerialOption::LeaveDtrOpen);
    // The end-of-file and error characters have no use on a raw line, and the
    // line discipline keeps its own XON/XOFF thresholds.
    s.xonChar = static_cast<unsigned char>(eventChars_.xonChar());
    s.xoffChar = static_cast<unsigned char>(eventChars_.xoffChar());
    // DTR handshake has no line-discipline counterpart; the line is held on.
    s.dtr = (dtrSettings_ & (DtrSetting::On | DtrSetting::Handshake))
        || (options_ & SerialOption::LeaveDtrOpen);
    s.rts = (rtsSettings_ & RtsSetting::On) != 0;
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
