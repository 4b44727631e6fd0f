#include "core/hexcodec.h"

#include <array>

namespace {

constexpr char digitTable[] = "0123456789ABCDEF ";

// Digit value of every byte: hexadecimal digits of either case, anything else
// 0 (a blank inside a piece is a 0 digit; other characters have no value of
// their own and are taken as 0 too).
constexpr std::array<quint8, 256> makeDigitValues()
{
    std::array<quint8, 256> values{};
    for (int c = '0'; c <= '9'; ++c)
        values[c] = quint8(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) {
        values[c] = quint8(c - 'A' + 10);
        values[c - 'A' + 'a'] = quint8(c - 'A' + 10);
    }
    return values;
}
constexpr auto digitValues = makeDigitValues();

} // namespace

QString ByteToHex(quint8 value)
{
    const char text[2] = {digitTable[value >> 4], digitTable[value & 0x0F]};
    return QString::fromLatin1(text, 2);
}

QString BytesToHex(const QByteArray &data)
{
    QString out(data.size() * 3, Qt::Uninitialized);
    QChar *p = out.data();
    for (const char byte : data) {
        const auto b = quint8(byte);
        *p++ = QLatin1Char(digitTable[b >> 4]);
        *p++ = QLatin1Char(digitTable[b & 0x0F]);
        *p++ = QLatin1Char(' ');
    }
    return out;
}

QString HexBlock(const QByteArray &data)
{
    QString out;
    out.reserve(data.size() * 3 + 2);
    out += QLatin1Char('{');
    out += BytesToHex(data);
    out += QLatin1Char('}');
    return out;
}

int HexToInt(const QByteArray &text)
{
    quint32 result = 0;
    for (const char c : text)
        result = result * 16 + digitValues[quint8(c)];
    return int(result);
}

int HexToInt(const QString &text)
{
    return HexToInt(text.toLocal8Bit());
}

QByteArray SendBoxBytes(const QString &text)
{
    QString wire = text;
    wire.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return wire.toLocal8Bit();
}

QByteArray HexTextToBytes(const QString &text)
{
    const QByteArray bytes = SendBoxBytes(text);
    QByteArray out(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype k = 0; k < out.size(); ++k) {
        const int value = digitValues[quint8(bytes[2 * k])] * 16 + digitValues[quint8(bytes[2 * k + 1])];
        out[k] = char(value);
    }
    return out;
}

bool IsHexKey(QChar c)
{
    const char16_t u = c.unicode();
    return u == 8 || (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}
