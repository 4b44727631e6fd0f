#include "app/webreply.h"

#include <QStringList>

#include <iconv.h>

#include <cerrno>

QByteArray EncodeGbk(const QString &text)
{
    QByteArray in = text.toUtf8();
    iconv_t cd = iconv_open("GBK//TRANSLIT", "UTF-8");
    if (cd == iconv_t(-1))
        return in;
    QByteArray out(in.size() * 2 + 16, Qt::Uninitialized);
    char *src = in.data();
    size_t srcLeft = size_t(in.size());
    char *dst = out.data();
    size_t dstLeft = size_t(out.size());
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != size_t(-1))
            break;
        if (errno != EILSEQ && errno != EINVAL)
            break;
        // A character GBK cannot hold becomes "?" rather than ending the text.
        *dst++ = '?';
        --dstLeft;
        ++src;
        --srcLeft;
        while (srcLeft > 0 && (quint8(*src) & 0xC0) == 0x80) {
            ++src;
            --srcLeft;
        }
    }
    iconv_close(cd);
    out.truncate(out.size() - qsizetype(dstLeft));
    return out;
}

namespace {

QByteArray crlfLines(const QString &text)
{
    QByteArray bytes;
    for (const QString &line : text.split(QLatin1Char('\n')))
        bytes += EncodeGbk(line) + "\r\n";
    return bytes;
}

} // namespace

QByteArray BuildWebReply(const QString &headerLines, const QString &pageLines)
{
    const QByteArray page = crlfLines(pageLines);
    return crlfLines(headerLines) + "Content-Length: " + QByteArray::number(page.size()) + "\r\n\r\n" + page;
}
