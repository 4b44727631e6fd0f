#include "datapanel/logformat.h"

#include "datapanel/hexcodec.h"

#include <QLocale>

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

const QString &shortDateFormat()
{
    static const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    return format;
}

const QString receivedWords = QStringLiteral(" 收到数据：");
const QString sentWords = QStringLiteral(" 发送数据：");

QString countText(const QString &count)
{
    return QLatin1Char('[') + count + QStringLiteral("次]");
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
    QString line = time + receivedWords + DataText(data);
    if (hex)
        line += HexBlock(data);
    return line;
}

QString SendLogLine(const QString &time, const QByteArray &data, bool hex, const QString &count)
{
    QString line = time + sentWords + DataText(data);
    if (hex)
        line += HexBlock(data);
    return line + countText(count);
}

QString TimedSendLogLine(const QString &time, const QByteArray &data, bool hex, const QString &count)
{
    QString line = time + sentWords;
    if (hex)
        line += HexBlock(data);
    return line + DataText(data) + countText(count);
}

QString CountersLine(qint64 received, qint64 sent)
{
    return QStringLiteral("收：") + QString::number(received) + QStringLiteral("字节，发:")
        + QString::number(sent) + QStringLiteral("字节");
}
