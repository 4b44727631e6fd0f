#include "core/wholenumber.h"

#include <limits>

namespace {

int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

int ParseWholeNumber(const QString &text)
{
    const auto fail = [&]() -> int {
        throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    };

    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return fail();

    // Accumulate as a magnitude so that -2147483648 converts.
    const quint64 limit
        = negative ? quint64(std::numeric_limits<int>::max()) + 1 : quint64(std::numeric_limits<int>::max());
    quint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const int d = digitValue(text[i]);
        if (d < 0 || d >= base)
            return fail();
        magnitude = magnitude * base + quint64(d);
        if (magnitude > limit)
            return fail();
    }
    return negative ? int(-qint64(magnitude)) : int(magnitude);
}
