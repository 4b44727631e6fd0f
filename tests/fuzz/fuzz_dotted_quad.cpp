// Dotted-quad parsing: either nothing or four octets, each the value of its
// field; every address written the usual way parses back to itself.
#include "net/localaddress.h"

#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Blanks, a sign, "$" or "0x" for hex, then digits of that base only.
std::optional<int> fieldValue(const QString &field)
{
    qsizetype i = 0;
    while (i < field.size() && field[i] == u' ')
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == u'-' || field[i] == u'+'))
        negative = field[i++] == u'-';
    int base = 10;
    if (i < field.size() && field[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < field.size() && field[i] == u'0' && (field[i + 1] == u'x' || field[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= field.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < field.size(); ++i) {
        bool ok = false;
        const int d = QString(field[i]).toInt(&ok, 16);
        if (!ok || d >= base)
            return std::nullopt;
        value = value * base + d;
        if (value > 255)
            return std::nullopt; // out of an octet's range, with either sign
    }
    if (negative && value != 0)
        return std::nullopt;
    return int(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size >= 4) {
        const QString usual
            = QStringLiteral("%1.%2.%3.%4").arg(data[0]).arg(data[1]).arg(data[2]).arg(data[3]);
        check(parseDottedQuad(usual) == QByteArray(reinterpret_cast<const char *>(data), 4));
    }

    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray octets = parseDottedQuad(text);
    const QStringList fields = text.split(QLatin1Char('.'));
    bool valid = fields.size() == 4;
    QByteArray expected;
    for (const QString &field : fields) {
        const auto value = valid ? fieldValue(field) : std::nullopt;
        valid = valid && value.has_value();
        if (valid)
            expected.append(char(*value));
    }
    check(octets.isEmpty() || octets.size() == 4);
    check(valid ? octets == expected : octets.isEmpty());
    return 0;
}
