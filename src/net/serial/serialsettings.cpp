#include "net/serial/serialsettings.h"

#include "net/serial/serialport.h"

#include <algorithm>

namespace {

int clampQueueSize(int value)
{
    return std::clamp(value, 128, 4096);
}

} // namespace

void SerialQueues::setInputSize(int value)
{
    value = clampQueueSize(value);
    if (value == inputSize_)
        return;
    inputSize_ = std::uint16_t(value);
    owner_.applyQueues();
}

void SerialQueues::setOutputSize(int value)
{
    value = clampQueueSize(value);
    if (value == outputSize_)
        return;
    outputSize_ = std::uint16_t(value);
    owner_.applyQueues();
}

void SerialFraming::setDataBits(DataBits value)
{
    if (value == dataBits_)
        return;
    dataBits_ = value;
    owner_.applyLineSettings();
}

void SerialFraming::setParity(Parity value)
{
    if (value == parity_)
        return;
    parity_ = value;
    owner_.applyLineSettings();
}

void SerialFraming::setStopBits(StopBits value)
{
    if (value == stopBits_)
        return;
    stopBits_ = value;
    owner_.applyLineSettings();
}

void SerialEventChars::set(char &field, char value)
{
    if (field == value)
        return;
    field = value;
    owner_.applyLineSettings();
}

void SerialTimeouts::set(int index, std::uint32_t value)
{
    if (values_[index] == value)
        return;
    values_[index] = value;
    owner_.applyTimeouts();
}
