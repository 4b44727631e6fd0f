#include "core/hexcodec.h"

#include <array>
#include <cstring>

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

// The two digits of every byte and the blank after them, as three UTF-16
// units in the low 48 bits of a word, first digit lowest: one load and one
// store a byte, where the digits one at a time took two lookups and three
// stores. Little-endian order, as on every machine this is built for.
constexpr std::array<quint64, 256> makeHexTriples()
{
    std::array<quint64, 256> triples{};
    for (int b = 0; b < 256; ++b) {
        triples[size_t(b)] = quint64(quint8(digitTable[b >> 4])) | quint64(quint8(digitTable[b & 0x0F])) << 16
            | quint64(' ') << 32;
    }
    return triples;
}
constexpr auto hexTriples = makeHexTriples();
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);

} // namespace

QString ByteToHex(quint8 value)
{
    const char text[2] = {digitTable[value >> 4], digitTable[value & 0x0F]};
    return QString::fromLatin1(text, 2);
}

QChar *WriteBytesAsHex(QChar *out, QByteArrayView data)
{
    const qsizetype size = data.size();
    if (size == 0)
        return out;
    const auto *bytes = reinterpret_cast<const quint8 *>(data.data());
    auto *p = reinterpret_cast<char *>(out);
    // Eight bytes stored for six written: the two spare ones are overwritten
    // by the next byte's digits, and the last byte stores only its six.
    for (qsizetype i = 0; i + 1 < size; ++i) {
        std::memcpy(p, &hexTriples[bytes[i]], sizeof(quint64));
        p += 3 * sizeof(char16_t);
    }
    std::memcpy(p, &hexTriples[bytes[size - 1]], 3 * sizeof(char16_t));
    return out + 3 * size;
}

QString BytesToHex(const QByteArray &data)
{
    QString out(data.size() * 3, Qt::Uninitialized);
    WriteBytesAsHex(out.data(), data);
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
