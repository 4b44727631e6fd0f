// The JSON line of a run without a window, from any fields: one line (no
// line break, nor U+2028 or U+2029 that some readers take for one), a JSON
// object that Qt reads back, its "hex" giving back exactly the bytes and its
// texts what was given (a lone surrogate as U+FFFD, a leading U+FEFF kept).
#include "session/headlesslines.h"

#include "fuzzcheck.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Takes the next field off the input: a length byte, then that many bytes.
QByteArray take(const uint8_t *&data, size_t &size)
{
    if (size == 0)
        return {};
    const size_t length = std::min<size_t>(data[0], size - 1);
    QByteArray field(reinterpret_cast<const char *>(data + 1), qsizetype(length));
    data += length + 1;
    size -= length + 1;
    return field;
}

// Any UTF-16, lone surrogates included, as the node texts and lines may be.
QString utf16(const QByteArray &bytes)
{
    return QString(reinterpret_cast<const QChar *>(bytes.constData()), bytes.size() / 2);
}

// UTF-8 decoded, a byte order mark at the start kept.
QString decoded(const QByteArray &utf8)
{
    QStringDecoder decoder(QStringConverter::Utf8,
        QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
    return decoder.decode(utf8);
}

// What a text is in valid UTF-16: each lone surrogate one U+FFFD (Qt's
// own UTF-8 encoder would make it '?').
QString withoutLoneSurrogates(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 9)
        return 0;
    HeadlessLine line;
    std::memcpy(&line.time, data, 8);
    line.direction = LineDirection(data[8] % 4);
    data += 9;
    size -= 9;
    line.endpoint = utf16(take(data, size));
    line.peer = utf16(take(data, size));
    line.line = utf16(take(data, size));
    line.bytes = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));

    const QByteArray json = headlessJsonLine(line);
    check(!json.contains('\n') && !json.contains('\r'));
    check(!json.contains("\xe2\x80\xa8") && !json.contains("\xe2\x80\xa9"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    check(error.error == QJsonParseError::NoError && document.isObject());
    const QJsonObject object = document.object();
    check(object.size() == 7);
    const QByteArray hex = object.value(QStringLiteral("hex")).toString().toLatin1();
    check(QByteArray::fromHex(hex) == line.bytes);
    check(hex == line.bytes.toHex(' ').toUpper());
    check(object.value(QStringLiteral("text")).toString() == decoded(line.bytes));
    check(object.value(QStringLiteral("endpoint")).toString() == withoutLoneSurrogates(line.endpoint));
    check(object.value(QStringLiteral("line")).toString() == withoutLoneSurrogates(line.line));
    const QJsonValue peer = object.value(QStringLiteral("peer"));
    check(line.peer.isEmpty() ? peer.isNull() : peer.toString() == withoutLoneSurrogates(line.peer));
    check(object.value(QStringLiteral("direction")).toString() == directionName(line.direction));
    check(object.value(QStringLiteral("time")).isString());
    return 0;
}
