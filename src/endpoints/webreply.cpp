#include "endpoints/webreply.h"

#include <QStringList>

#include <iconv.h>

#include <cerrno>

namespace {

// The reply as it has always been shipped: the header lines and the page.
const QStringList webHeaderLines = {
    QStringLiteral("HTTP/1.1 200 OK"),
    QStringLiteral("Server: Microsoft-IIS/5.1"),
    QStringLiteral("X-Powered-By: ASP.NET"),
    QStringLiteral("Content-Type: text/html"),
    QStringLiteral("Accept-Ranges: bytes"),
    QStringLiteral("ETag: \"0c76c133e39c71:8f6\""),
};

const QStringList webPageLines = {
    QStringLiteral("<html>"),
    QString(),
    QStringLiteral("<head>"),
    QStringLiteral("<meta http-equiv=\"Content-Type\" "),
    QStringLiteral("content=\"text/html; charset=gb2312\">"),
    QStringLiteral("<meta name=\"GENERATOR\" "),
    QStringLiteral("content=\"Microsoft FrontPage 4.0\">"),
    QStringLiteral("<meta name=\"ProgId\" "),
    QStringLiteral("content=\"FrontPage.Editor.Document\""),
    QStringLiteral(">"),
    QStringLiteral("<title>New Page 1</title>"),
    QStringLiteral("</head>"),
    QString(),
    QStringLiteral("<body>"),
    QStringLiteral("<center>  "),
    QStringLiteral("<p>"),
    QString(),
    QStringLiteral("</p>"),
    QStringLiteral("<p><font face=\"宋体\" size=\"2\">Portwright 网络调试工具</font></p>"),
    QStringLiteral("<p><font face=\"宋体\" size=\"2\">&nbsp;&nbsp; "),
    QStringLiteral("<a href=\"https://portwright.example.org/\">HTTPS://PORTWRIGHT.EXAMPLE.ORG/</a>"),
    QStringLiteral("</font></p> "),
    QStringLiteral("</center>  "),
    QStringLiteral("</body>"),
    QString(),
    QStringLiteral("</html>"),
};

} // namespace

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

QString WebReplyHeaderText()
{
    return webHeaderLines.join(QLatin1Char('\n'));
}

QString WebReplyPageText()
{
    return webPageLines.join(QLatin1Char('\n'));
}

QByteArray FixedWebReply()
{
    return BuildWebReply(WebReplyHeaderText(), WebReplyPageText());
}
