// The send box's hex parser: arbitrary texts never break it, the length is
// always half the send bytes, and any byte string written out as digits comes
// back unchanged.
#include "core/hexcodec.h"

#include <cstdint>
#include <cstdlib>

namespace {

int digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));

    // Any text: one byte per pair of send bytes, each pair read as two digits.
    const QString text = QString::fromUtf8(raw);
    const QByteArray wire = SendBoxBytes(text);
    const QByteArray out = HexTextToBytes(text);
    check(out.size() == wire.size() / 2);
    for (qsizetype k = 0; k < out.size(); ++k)
        check(quint8(out[k]) == digit(wire[2 * k]) * 16 + digit(wire[2 * k + 1]));

    // The bytes as digits, in either case, read back as the same bytes.
    QString digits = BytesToHex(raw);
    check(digits.size() == raw.size() * 3);
    digits.remove(QLatin1Char(' '));
    check(HexTextToBytes(digits) == raw);
    check(HexTextToBytes(digits.toLower()) == raw);
    // A trailing odd digit is dropped.
    check(HexTextToBytes(digits + QLatin1Char('7')) == raw);
    return 0;
}
