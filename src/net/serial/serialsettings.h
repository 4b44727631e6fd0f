#pragma once
// The serial component's setting groups. Each is owned by its component and
// refers back to it, so that a changed value takes effect on the open device
// at once. UI thread only.

#include <cstdint>

enum class DataBits { Four, Five, Six, Seven, Eight };
enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

class SerialPort;

// Queue sizes, and the time limits of SerialPort::read and SerialPort::write.
// Owned by its component; UI thread only.
class SerialQueues {
public:
    explicit SerialQueues(SerialPort &owner)
        : owner_(owner)
    {
    }
    [[nodiscard]] int inputSize() const { return inputSize_; }
    [[nodiscard]] int outputSize() const { return outputSize_; }
    [[nodiscard]] int inputTimeout() const { return inputTimeout_; }
    [[nodiscard]] int outputTimeout() const { return outputTimeout_; }
    void setInputSize(int value);
    void setOutputSize(int value);
    void setInputTimeout(int value) { inputTimeout_ = std::uint16_t(value); }
    void setOutputTimeout(int value) { outputTimeout_ = std::uint16_t(value); }

private:
    SerialPort &owner_;
    std::uint16_t inputSize_ = 2048;
    std::uint16_t outputSize_ = 2048;
    std::uint16_t inputTimeout_ = 500;
    std::uint16_t outputTimeout_ = 500;
};

// Character size, parity and stop bits. Owned by its component; UI thread only.
class SerialFraming {
public:
    explicit SerialFraming(SerialPort &owner)
        : owner_(owner)
    {
    }
    [[nodiscard]] DataBits dataBits() const { return dataBits_; }
    [[nodiscard]] Parity parity() const { return parity_; }
    [[nodiscard]] StopBits stopBits() const { return stopBits_; }
    void setDataBits(DataBits value);
    void setParity(Parity value);
    void setStopBits(StopBits value);

private:
    SerialPort &owner_;
    DataBits dataBits_ = DataBits::Eight;
    Parity parity_ = Parity::None;
    StopBits stopBits_ = StopBits::One;
};

// Flow-control and event characters. Owned by its component; UI thread only.
class SerialEventChars {
public:
    explicit SerialEventChars(SerialPort &owner)
        : owner_(owner)
    {
    }
    [[nodiscard]] char xonChar() const { return xon_; }
    [[nodiscard]] char xoffChar() const { return xoff_; }
    [[nodiscard]] char eofChar() const { return eof_; }
    [[nodiscard]] char errorChar() const { return error_; }
    [[nodiscard]] char eventChar() const { return event_; }
    void setXonChar(char value) { set(xon_, value); }
    void setXoffChar(char value) { set(xoff_, value); }
    void setEofChar(char value) { set(eof_, value); }
    void setErrorChar(char value) { set(error_, value); }
    void setEventChar(char value) { set(event_, value); }

private:
    void set(char &field, char value);

    SerialPort &owner_;
    char xon_ = 0x11;
    char xoff_ = 0x13;
    char eof_ = 0;
    char error_ = 0;
    char event_ = 0x0A;
};

// Driver time-outs in milliseconds. The write pair bounds how long one write
// piece may wait for the device (never more than a second); the read values
// are kept for the program, reads take only what is queued. Owned by its
// component; UI thread only.
class SerialTimeouts {
public:
    explicit SerialTimeouts(SerialPort &owner)
        : owner_(owner)
    {
    }
    [[nodiscard]] std::uint32_t readInterval() const { return values_[0]; }
    [[nodiscard]] std::uint32_t readMultiplier() const { return values_[1]; }
    [[nodiscard]] std::uint32_t readConstant() const { return values_[2]; }
    [[nodiscard]] std::uint32_t writeMultiplier() const { return values_[3]; }
    [[nodiscard]] std::uint32_t writeConstant() const { return values_[4]; }
    void setReadInterval(std::uint32_t value) { set(0, value); }
    void setReadMultiplier(std::uint32_t value) { set(1, value); }
    void setReadConstant(std::uint32_t value) { set(2, value); }
    void setWriteMultiplier(std::uint32_t value) { set(3, value); }
    void setWriteConstant(std::uint32_t value) { set(4, value); }

private:
    void set(int index, std::uint32_t value);

    SerialPort &owner_;
    std::uint32_t values_[5] = {1, 0, 1, 0, 1};
};
