#include "core/logtexts.h"

#include "core/hexcodec.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>

namespace {

QString stripTimeZone(QString format)
{
    // Drop the zone token and the separator that precedes it; quoted literal
    // text in a time format never holds a lone "t" in the locales we meet.
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

const QString &longTimeFormat()
{
    static const QString format = stripTimeZone(QLocale::system().timeFormat(QLocale::LongFormat));
    return format;
}

const QString &millisecondsTimeFormat()
{
    static const QString format = [] {
        QString withMs = longTimeFormat();
        const qsizetype seconds = withMs.lastIndexOf(QLatin1Char('s'));
        withMs.insert(seconds < 0 ? withMs.size() : seconds + 1, QLatin1String(".zzz"));
        return withMs;
    }();
    return format;
}

const QString &shortDateFormat()
{
    static const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    return format;
}

// The words of a log line are translated once, at first use: that comes after
// main installed the translator, and a line per received piece then costs no
// catalogue look-up.
struct LineWords {
    QString received, sent, reply;
    QString countSuffix; // closes the "[n次]" suffix of a sent line
};

const LineWords &lineWords()
{
    static const LineWords words{QCoreApplication::translate("LogTexts", " 收到数据："),
        QCoreApplication::translate("LogTexts", " 发送数据："),
        QCoreApplication::translate("LogTexts", " 自动应答："),
        QCoreApplication::translate("LogTexts", "次]")};
    return words;
}

enum class Order { TextFirst, HexFirst };

// count is the "[n次]" suffix's number; without one the line has no suffix.
// The line is made at its exact size, the hex block written in place: joined
// with +, a string grows to the next power of two, and the block made apart
// would be copied once more.
QString logLine(const QString &time, const QString &words, const QByteArray &data, bool hex, Order order,
    const QString *count = nullptr)
{
    const QString text = DataText(data);
    const QStringView number = count ? QStringView(*count) : QStringView();
    const QStringView countOpen = count ? u"[" : u"";
    const QStringView countClose = count ? QStringView(lineWords().countSuffix) : QStringView(u"");
    const qsizetype blockSize = hex ? 3 * data.size() + 2 : 0;
    QString line(time.size() + words.size() + text.size() + blockSize + countOpen.size() + number.size()
            + countClose.size(),
        Qt::Uninitialized);
    QChar *out = line.data();
    const auto put = [&out](QStringView piece) {
        std::copy(piece.begin(), piece.end(), out);
        out += piece.size();
    };
    const auto putBlock = [&] {
        if (!hex)
            return;
        *out++ = QLatin1Char('{');
        out = WriteBytesAsHex(out, data);
        *out++ = QLatin1Char('}');
    };
    put(time);
    put(words);
    if (order == Order::HexFirst) {
        putBlock();
        put(text);
    } else {
        put(text);
        putBlock();
    }
    put(countOpen);
    put(number);
    put(countClose);
    return line;
}

} // namespace

QString TimeText(const QTime &time)
{
    return QLocale::system().toString(time, longTimeFormat());
}

QString TimeText()
{
    // Local time costs a time-zone lookup; the clock's second is cheap, so the
    // text is made anew only when the second changes.
    static qint64 cachedSecond = -1;
    static QString cached;
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (second != cachedSecond) {
        cached = TimeText(QDateTime::fromSecsSinceEpoch(second).time());
        cachedSecond = second;
    }
    return cached;
}

QString TimeTextWithMilliseconds(const QTime &time)
{
    return QLocale::system().toString(time, millisecondsTimeFormat());
}

QString TimeTextWithMilliseconds()
{
    return TimeTextWithMilliseconds(QTime::currentTime());
}

QString DateTimeText(const QDateTime &when)
{
    const QLocale locale = QLocale::system();
    return locale.toString(when.date(), shortDateFormat()) + QLatin1Char(' ')
        + locale.toString(when.time(), longTimeFormat());
}

QString DataText(const QByteArray &data)
{
    QString text = QString::fromLocal8Bit(data);
    if (!text.contains(QLatin1Char('\r')) && !text.contains(QChar(0)))
        return text;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QChar(0), QChar(0x2400));
    return text;
}

QString ReceiveLogLine(const QString &time, const QByteArray &data, bool hex)
{
    return logLine(time, lineWords().received, data, hex, Order::TextFirst);
}

QString SendLogLine(const QString &time, const QByteArray &data, bool hex, const QString &count)
{
    return logLine(time, lineWords().sent, data, hex, Order::TextFirst, &count);
}

QString TimedSendLogLine(const QString &time, const QByteArray &data, bool hex, const QString &count)
{
    return logLine(time, lineWords().sent, data, hex, Order::HexFirst, &count);
}

QString ReplyLogLine(const QString &time, const QByteArray &data, bool hex)
{
    if (data.size() <= LoggedReplyBytes)
        return logLine(time, lineWords().reply, data, hex, Order::TextFirst);
    // Every peer a server answers logs its reply: a large one whole, a
    // thousand times over, would hold gigabytes for nobody to read.
    return logLine(time, lineWords().reply, data.left(LoggedReplyBytes), hex, Order::TextFirst)
        + QCoreApplication::translate("LogTexts", " …（共 %1 字节）").arg(data.size());
}

QString ByteSizeText(qint64 bytes)
{
    constexpr double KB = 1024.0;
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    if (bytes < 1024 * 1024)
        return QString::number(double(bytes) / KB, 'f', 1) + QStringLiteral(" KB");
    if (bytes < qint64(1024) * 1024 * 1024)
        return QString::number(double(bytes) / (KB * KB), 'f', 1) + QStringLiteral(" MB");
    return QString::number(double(bytes) / (KB * KB * KB), 'f', 2) + QStringLiteral(" GB");
}

QString CountersLine(qint64 received, qint64 sent)
{
    static const QString receivedHead = QCoreApplication::translate("LogTexts", "收：");
    static const QString sentHead = QCoreApplication::translate("LogTexts", "字节，发:");
    static const QString tail = QCoreApplication::translate("LogTexts", "字节");
    return receivedHead + QString::number(received) + sentHead + QString::number(sent) + tail;
}
