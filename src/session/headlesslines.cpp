#include "session/headlesslines.h"

#include <QDateTime>

namespace {

// Local time with its offset: a person at the rack reads local time, and the
// offset keeps lines of machines in other zones comparable.
QString timeText(qint64 time)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(time);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// C0 controls (TAB kept) as U+2400 + code and DEL as U+2421, the pictures
// that the window's own zero byte uses.
QString withControlPictures(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
            shown += QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7f)
            shown += QChar(0x2421);
        else
            shown += c;
    }
    return shown;
}

// A JSON string with its quotes. QString may hold a lone surrogate, which
// UTF-8 cannot carry; it becomes U+FFFD rather than an invalid byte.
void appendJsonString(QByteArray &out, const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + 2);
    escaped += QLatin1Char('"');
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (u == u'"' || u == u'\\') {
            escaped += QLatin1Char('\\');
            escaped += c;
        } else if (u == u'\n') {
            escaped += QLatin1String("\\n");
        } else if (u == u'\r') {
            escaped += QLatin1String("\\r");
        } else if (u == u'\t') {
            escaped += QLatin1String("\\t");
        } else if (u < 0x20 || u == 0x7f || u == 0x2028 || u == 0x2029) {
            // U+2028 and U+2029 are valid JSON but end a line for some
            // readers.
            escaped += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            escaped += c;
            escaped += text.at(++i);
        } else if (c.isSurrogate()) {
            escaped += QChar(QChar::ReplacementCharacter);
        } else {
            escaped += c;
        }
    }
    escaped += QLatin1Char('"');
    out += escaped.toUtf8();
}

void appendJsonField(QByteArray &out, const char *name, const QString &value)
{
    if (out.size() > 1)
        out += ',';
    out += '"';
    out += name;
    out += "\":";
    appendJsonString(out, value);
}

} // namespace

QString directionName(LineDirection direction)
{
    switch (direction) {
    case LineDirection::Received:
        return QStringLiteral("received");
    case LineDirection::Sent:
        return QStringLiteral("sent");
    case LineDirection::Reply:
        return QStringLiteral("reply");
    case LineDirection::Note:
        break;
    }
    return QStringLiteral("note");
}

QByteArray headlessTextLine(const HeadlessLine &line)
{
    QString text = timeText(line.time) + QLatin1Char(' ') + withControlPictures(line.endpoint);
    if (!line.peer.isEmpty())
        text += QLatin1Char(' ') + withControlPictures(line.peer);
    text += QLatin1Char(' ') + withControlPictures(line.line);
    return text.toUtf8();
}

QByteArray headlessJsonLine(const HeadlessLine &line)
{
    QByteArray out("{");
    appendJsonField(out, "time", timeText(line.time));
    appendJsonField(out, "endpoint", line.endpoint);
    if (line.peer.isEmpty())
        out += ",\"peer\":null";
    else
        appendJsonField(out, "peer", line.peer);
    appendJsonField(out, "direction", directionName(line.direction));
    appendJsonField(out, "text", QString::fromUtf8(line.bytes));
    appendJsonField(out, "hex", QString::fromLatin1(line.bytes.toHex(' ').toUpper()));
    appendJsonField(out, "line", line.line);
    out += '}';
    return out;
}
