// Folding hex digits into an integer: wraps at 32 bits, non-digits count as
// 0, and the fold of a concatenation is the fold of its parts.
#include "core/hexcodec.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

quint32 power16(qsizetype n)
{
    quint32 p = 1;
    for (qsizetype i = 0; i < n; ++i)
        p *= 16;
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));
    const quint32 whole = quint32(HexToInt(raw));

    // Split anywhere: whole == head * 16^|tail| + tail (mod 2^32).
    const qsizetype cut = size ? qsizetype(data[0] % (size + 1)) : 0;
    const QByteArray head = raw.left(cut);
    const QByteArray tail = raw.mid(cut);
    check(whole == quint32(HexToInt(head)) * power16(tail.size()) + quint32(HexToInt(tail)));

    // Anything that is not a hex digit weighs as a 0 digit.
    QByteArray zeroed = raw;
    for (char &c : zeroed)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            c = '0';
    check(whole == quint32(HexToInt(zeroed)));

    // Only the last eight digits matter.
    if (raw.size() > 8)
        check(whole == quint32(HexToInt(raw.right(8))));

    // A value written as eight digits reads back as itself.
    if (size >= 4) {
        const quint32 value
            = quint32(data[0]) << 24 | quint32(data[1]) << 16 | quint32(data[2]) << 8 | data[3];
        const QByteArray text = QByteArray::number(value, 16).rightJustified(8, '0');
        check(quint32(HexToInt(text)) == value);
        check(quint32(HexToInt(text.toUpper())) == value);
        check(quint32(HexToInt(QString::fromLatin1(text))) == value);
    }

    // Plain ASCII reads the same as text and as bytes.
    bool ascii = true;
    for (const char c : raw)
        ascii = ascii && quint8(c) < 0x80 && c != 0;
    if (ascii)
        check(HexToInt(QString::fromLatin1(raw)) == HexToInt(raw));
    return 0;
}
