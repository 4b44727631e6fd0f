#pragma once
// How a serial endpoint is set up: the device, its line settings, the modem
// lines held from the moment it opens, how received bytes become log
// entries, and whether it comes back by itself after the adapter was
// unplugged. A plain value, any thread; the creation dialog fills it, a
// workspace keeps it, the endpoint opens its device by it.

#include <QByteArray>
#include <QString>

#include <cstdint>

enum class SerialParity { None, Odd, Even, Mark, Space };
enum class SerialFlow { None, RtsCts, XonXoff };
// Gap: a message ends when nothing arrived for gapMs (0: every read is one).
// Delimiter: a message ends after the delimiter bytes.
enum class SerialFraming { Gap, Delimiter };

constexpr std::uint32_t MaxSerialBaud = 20'000'000;
constexpr int DefaultSerialGapMs = 20;
constexpr int MaxSerialGapMs = 60'000;
constexpr int DefaultSerialMessageCap = 4096;
constexpr int MaxSerialMessageCap = 1024 * 1024;
constexpr qsizetype MaxSerialDelimiterBytes = 16;

struct SerialSetup {
    // As picked or typed: /dev/ttyUSB0, a /dev/serial/by-id/ name, a
    // pseudo-terminal, any symlink to a terminal.
    QString device;
    std::uint32_t baud = 115200; // any rate from 1 to MaxSerialBaud
    int dataBits = 8; // 5..8
    SerialParity parity = SerialParity::None;
    int stopBits = 1; // 1 or 2
    SerialFlow flow = SerialFlow::None;
    bool dtr = true;
    bool rts = true;
    SerialFraming framing = SerialFraming::Gap;
    int gapMs = DefaultSerialGapMs; // 0..MaxSerialGapMs
    QByteArray delimiter = QByteArrayLiteral("\n"); // 1..MaxSerialDelimiterBytes bytes
    int messageCap = DefaultSerialMessageCap; // 1..MaxSerialMessageCap bytes
    bool autoReconnect = true;

    bool operator==(const SerialSetup &) const = default;
};
