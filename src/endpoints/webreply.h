#pragma once
// The fixed HTTP reply of the web-service switch.

#include <QByteArray>
#include <QString>

// The text in GBK, the code page the page's meta line declares (gb2312).
[[nodiscard]] QByteArray EncodeGbk(const QString &text);

// Every line of the header text, then "Content-Length: " with the byte count
// of the page, an empty line and the page; every line of both texts ends in
// CR LF. Built anew from the current texts on every use.
[[nodiscard]] QByteArray BuildWebReply(const QString &headerLines, const QString &pageLines);

// The shipped header lines and page, each line ending in a line feed but the
// last, and the reply built from them.
[[nodiscard]] QString WebReplyHeaderText();
[[nodiscard]] QString WebReplyPageText();
[[nodiscard]] QByteArray FixedWebReply();
