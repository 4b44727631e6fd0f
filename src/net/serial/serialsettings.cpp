#include "net/serial/serialsettings.h"

#include "net/serial/serialport.h"

#include <algorithm>

namespace {

int clampQueueSize(int value)
{
    return std::clamp(value, 128, 4096);
}

} // namespace

void SerialQueues::SetInputSize(int value)
{
    value = clampQueueSize(value);
    if (value == inputSize_)
        return;
    inputSize_ = std::uint16_t(value);
    owner_.ApplyBuffers();
}

void SerialQueues::SetOutputSize(int value)
{
    value = clampQueueSize(value);
    if (value == outputSize_)
        return;
    outputSize_ = std::uint16_t(value);
    owner_.ApplyBuffers();
}

void SerialFraming::SetDataBits(TDataBits value)
{
    if (value == dataBits_)
        return;
    dataBits_ = value;
    owner_.ApplyLineSettings();
}

void SerialFraming::SetParity(TParity value)
{
    if (value == parity_)
        return;
    parity_ = value;
    owner_.ApplyLineSettings();
}

void SerialFraming::SetStopBits(TStopBits value)
{
    if (value == stopBits_)
        return;
    stopBits_ = value;
    owner_.ApplyLineSettings();
}

void SerialEventChars::set(char &field, char value)
{
    if (field == value)
        return;
    field = value;
    owner_.ApplyLineSettings();
}

void SerialTimeouts::set(int index, std::uint32_t value)
{
    if (values_[index] == value)
        return;
    values_[index] = value;
    owner_.ApplyTimeouts();
}
