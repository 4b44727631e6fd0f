#include "session/headlesslines.h"

#include <QDateTime>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QtNumeric>

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Local time with its offset, appended to out: a person at the rack reads
// local time, and the offset keeps lines of machines in other zones
// comparable. The zone lookup and the formatting cost microseconds, which a
// flood of short lines pays on every line; the text of the second is kept
// per thread and only its milliseconds are written anew. A zone's offset
// changes on a whole second.
void appendTimeText(QByteArray &out, qint64 time)
{
    thread_local qint64 cachedSecond = -1;
    thread_local QByteArray cached; // the second's text with ".000"
    thread_local qsizetype millisecondsAt = -1; // of the three digits
    // Rounded down, without overflow for the earliest times a qint64 holds.
    qint64 second = time / 1000;
    int milliseconds = int(time % 1000);
    if (milliseconds < 0) {
        --second;
        milliseconds += 1000;
    }
    const auto text = [](qint64 milliseconds) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(milliseconds);
        return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8();
    };
    qint64 secondStart = 0;
    if (qMulOverflow(second, qint64(1000), &secondStart)) {
        out += text(time);
        return;
    }
    if (second != cachedSecond) {
        cached = text(secondStart);
        const qsizetype dot = cached.indexOf('.', cached.indexOf('T'));
        millisecondsAt = dot >= 0 && cached.size() >= dot + 4 ? dot + 1 : -1;
        cachedSecond = second;
    }
    if (millisecondsAt < 0) {
        out += text(time);
        return;
    }
    const qsizetype at = out.size() + millisecondsAt;
    out += cached;
    char *digits = out.data() + at;
    digits[0] = char('0' + milliseconds / 100);
    digits[1] = char('0' + milliseconds / 10 % 10);
    digits[2] = char('0' + milliseconds % 10);
}

QString timeText(qint64 time)
{
    QByteArray text;
    appendTimeText(text, time);
    return QString::fromUtf8(text);
}

bool isControl(char c)
{
    return (uchar(c) < 0x20 && c != '\t') || c == '\x7f';
}

// The first control byte (isControl) from at on, or end. A received piece
// of megabytes is all but always free of them and is looked at whole:
// sixteen bytes at a time where SSE2 is (every x86-64).
const char *findControl(const char *at, const char *end)
{
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i none = _mm_set1_epi8(-1);
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i del = _mm_set1_epi8(0x7f);
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        // Signed: below 0x20 and not negative (not 0x80..0xFF).
        const __m128i low = _mm_and_si128(_mm_cmplt_epi8(bytes, space), _mm_cmpgt_epi8(bytes, none));
        const __m128i controls
            = _mm_or_si128(_mm_andnot_si128(_mm_cmpeq_epi8(bytes, tab), low), _mm_cmpeq_epi8(bytes, del));
        if (const int mask = _mm_movemask_epi8(controls))
            return at + __builtin_ctz(unsigned(mask));
    }
#endif
    return std::find_if(at, end, isControl);
}

// C0 controls (TAB kept) as U+2400 + code and DEL as U+2421, the pictures
// that the window's own zero byte uses, appended to out. In UTF-8 these
// bytes stand only for themselves, never inside a longer sequence, so text
// is converted whole and only they are replaced.
void appendWithControlPictures(QByteArray &out, QByteArrayView utf8)
{
    const char *end = utf8.end();
    const char *plain = utf8.begin(); // the start of the run not yet appended
    for (const char *at = findControl(plain, end); at != end; at = findControl(at + 1, end)) {
        out.append(plain, at - plain);
        const char16_t picture = *at == '\x7f' ? u'\u2421' : char16_t(0x2400 + uchar(*at));
        // U+2400..U+2421 in UTF-8: E2 90 80..A1.
        const char encoded[3] = {char(0xe0 | (picture >> 12)), char(0x80 | ((picture >> 6) & 0x3f)),
            char(0x80 | (picture & 0x3f))};
        out.append(encoded, 3);
        plain = at + 1;
    }
    out.append(plain, end - plain);
}

// The same for text, converted straight into out (it has room reserved for
// it); only text that holds a control is converted apart and appended again.
void appendWithControlPictures(QByteArray &out, QStringView text)
{
    const qsizetype start = out.size();
    out.resize(start + text.size() * 3);
    // Stateless: a high surrogate at the end is not held back for more.
    QStringEncoder encoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const char *end = encoder.appendToBuffer(out.data() + start, text);
    out.resize(end - out.constData());
    if (findControl(out.constData() + start, out.constEnd()) == out.constEnd())
        return;
    const QByteArray converted = out.sliced(start);
    out.truncate(start);
    appendWithControlPictures(out, QByteArrayView(converted));
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
        } else if (u < 0x20 || u == 0x7f || u == 0x2028 || u == 0x2029 || u == 0xfeff) {
            // U+2028 and U+2029 are valid JSON but end a line for some
            // readers; U+FEFF at the start of a string is dropped by some
            // (Qt's among them) as a byte order mark.
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

namespace {

// Made in UTF-8 piece by piece, at its size and with room for the line break
// its writer adds: a received piece of megabytes is copied once, not joined
// in UTF-16 and converted after, and a short line costs one allocation.
// An endpoint's name is the same text line after line: its UTF-8, with
// pictures for control characters, is kept for the name last written.
void appendName(QByteArray &out, const QString &name)
{
    thread_local QString lastName;
    thread_local QByteArray lastEncoded;
    if (!lastName.isSharedWith(name) || lastName.isNull()) {
        lastEncoded.clear();
        appendWithControlPictures(lastEncoded, QStringView(name));
        lastName = name;
    }
    out += lastEncoded;
}

QByteArray textLine(const HeadlessLine &line, QByteArrayView tail)
{
    QByteArray out;
    out.reserve(40 + (line.endpoint.size() + line.peer.size() + line.line.size()) * 3 + tail.size() + 4);
    appendTimeText(out, line.time);
    out += ' ';
    appendName(out, line.endpoint);
    if (!line.peer.isEmpty()) {
        out += ' ';
        appendWithControlPictures(out, QStringView(line.peer));
    }
    out += ' ';
    appendWithControlPictures(out, QStringView(line.line));
    appendWithControlPictures(out, tail);
    // A large piece that is not ASCII takes far less than the room reserved
    // for it; the line may be queued as it is.
    if (out.capacity() - out.size() > 64 * 1024)
        out.squeeze();
    return out;
}

} // namespace

QByteArray headlessTextLine(const HeadlessLine &line)
{
    return textLine(line, QByteArrayView());
}

QByteArray headlessTextLineEndingInBytes(const HeadlessLine &line)
{
    return textLine(line, line.bytes);
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
    // A byte order mark the bytes start with is part of what was received.
    QStringDecoder decoder(QStringConverter::Utf8,
        QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
    appendJsonField(out, "text", decoder.decode(line.bytes));
    appendJsonField(out, "hex", QString::fromLatin1(line.bytes.toHex(' ').toUpper()));
    appendJsonField(out, "line", line.line);
    out += '}';
    return out;
}
