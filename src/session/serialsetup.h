#pragma once
// How a serial endpoint is set up: the device, its line settings, the modem
// lines held from the moment it opens, how received bytes become log
// entries, and whether it comes back by itself after the adapter was
// unplugged. A plain value, any thread; the creation dialog fills it, a
// workspace keeps it, the endpoint opens its device by it.

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class QJsonObject;

enum class SerialParity { None, Odd, Even, Mark, Space };
enum class SerialFlow { None, RtsCts, XonXoff };
// Gap: a message ends when nothing arrived for gapMs (0: every read is one).
// Delimiter: a message ends after the delimiter bytes.
enum class MessageFraming { Gap, Delimiter };

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
    MessageFraming framing = MessageFraming::Gap;
    int gapMs = DefaultSerialGapMs; // 0..MaxSerialGapMs
    QByteArray delimiter = QByteArrayLiteral("\n"); // 1..MaxSerialDelimiterBytes bytes
    int messageCap = DefaultSerialMessageCap; // 1..MaxSerialMessageCap bytes
    bool autoReconnect = true;

    bool operator==(const SerialSetup &) const = default;
};

// The line settings as a terminal user writes them: "115200 8N1", "9600 7E2"
// (parity N, O, E, M or S).
[[nodiscard]] QString serialLineForm(const SerialSetup &setup);

// A delimiter as the creation dialog shows it and a workspace keeps it:
// "CR", "LF", "CRLF", or else its bytes in hexadecimal, "0D 0A 0D".
[[nodiscard]] QString serialDelimiterText(const QByteArray &delimiter);
// The bytes a delimiter text stands for: "CR", "LF" or "CRLF" in any case, or
// hexadecimal bytes with or without blanks between them ("0D 0A", "0d0a",
// "03"). nullopt for a text that stands for no delimiter, with *problem
// saying why.
[[nodiscard]] std::optional<QByteArray> serialDelimiterFromText(const QString &text, QString *problem);

// A serial setup in a workspace: every field under its key (device, baud,
// dataBits, parity, stopBits, flow, dtr, rts, framing, gapMs, delimiter,
// messageCap, autoReconnect), the choices by fixed English names, the
// delimiter as serialDelimiterText writes it.
void writeSerialSetup(const SerialSetup &setup, QJsonObject &object);
// Those keys, in that order.
[[nodiscard]] const std::array<QString, 13> &serialSetupKeys();
// The setup kept under `object`, whose place in the file is `where` (as
// "endpoints[2].serial"). The device is required; a key left out takes the
// default, a key not known is ignored. nullopt when a known key has the wrong
// type or an unusable value, with *problem naming the first such key in the
// workspace reader's words ("工作区文件格式错误：endpoints[2].serial.baud：…").
[[nodiscard]] std::optional<SerialSetup> readSerialSetup(
    const QJsonObject &object, const QString &where, QString *problem);
// Empty when every value of the setup may be kept in a workspace and read
// back; else the first that may not, as readSerialSetup words it.
[[nodiscard]] QString serialSetupProblem(const SerialSetup &setup, const QString &where);
