// Received bytes to a log line: the fixed head, data that cannot cut the line
// (no zero, no CR), every line break kept as one LF, and in hex mode a block
// at the end that spells exactly the received bytes.
#include "core/logtexts.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

int lineBreaks(const QByteArray &data)
{
    int n = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data[i] == '\n')
            ++n;
        else if (data[i] == '\r') {
            ++n;
            if (i + 1 < data.size() && data[i + 1] == '\n')
                ++i;
        }
    }
    return n;
}

QByteArray spelled(const QString &block)
{
    QByteArray out;
    for (qsizetype i = 1; i + 3 <= block.size() - 1; i += 3) {
        for (qsizetype j = i; j < i + 2; ++j)
            check((block[j] >= u'0' && block[j] <= u'9') || (block[j] >= u'A' && block[j] <= u'F'));
        check(block[i + 2] == u' ');
        out.append(char(block.mid(i, 2).toUInt(nullptr, 16)));
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, size_t size)
{
    const QByteArray data(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const QString time = QStringLiteral("14:05:33");
    const QString head = time + QStringLiteral(" 收到数据：");

    const QString text = DataText(data);
    check(!text.contains(QChar(0)));
    check(!text.contains(QLatin1Char('\r')));
    check(text.count(QLatin1Char('\n')) == lineBreaks(data));
    if (!data.contains('\xE2')) // no U+2400 of the sender's own
        check(text.count(QChar(0x2400)) == data.count('\0'));
    if (!data.contains('\0') && !data.contains('\r'))
        check(text == QString::fromLocal8Bit(data));

    const QString plain = ReceiveLogLine(time, data, false);
    check(plain == head + text);

    const QString hex = ReceiveLogLine(time, data, true);
    const qsizetype blockSize = 3 * data.size() + 2;
    check(hex.size() == plain.size() + blockSize);
    check(hex.startsWith(plain));
    const QString block = hex.right(blockSize);
    check(block.front() == u'{' && block.back() == u'}');
    check(spelled(block) == data);
    return 0;
}
