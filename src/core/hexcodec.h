#pragma once
// Hexadecimal presentation of bytes and the send box's hex parser. Pure
// functions, Qt Core only, callable from any thread.

#include <QByteArray>
#include <QString>

// Two uppercase digits of one byte: 0x0F gives "0F".
[[nodiscard]] QString ByteToHex(quint8 value);

// Every byte as two digits followed by one blank; "" for no bytes.
[[nodiscard]] QString BytesToHex(const QByteArray &data);
// The same written at out, which has room for 3 * data.size() characters;
// returns where the text ends.
QChar *WriteBytesAsHex(QChar *out, QByteArrayView data);

// "{" + BytesToHex + "}", the block that log lines carry in hex mode.
[[nodiscard]] QString HexBlock(const QByteArray &data);

// Folds the hexadecimal digits of a text into an integer (wrapping at 32
// bits). A blank counts as 0, and so does any other character that is not a
// hexadecimal digit.
[[nodiscard]] int HexToInt(const QByteArray &text);
[[nodiscard]] int HexToInt(const QString &text);

// The send box text in hex mode, as its SendBoxBytes cut into pairs at
// fixed even positions: "4142" gives 0x41 0x42, "41 42" gives 0x41 0x04, and
// a last odd byte is dropped.
[[nodiscard]] QByteArray HexTextToBytes(const QString &text);

// The bytes a send box text stands for: line breaks as CR LF, characters in
// the local 8-bit encoding.
[[nodiscard]] QByteArray SendBoxBytes(const QString &text);

// Whether a key typed into the send box reaches it in hex mode: backspace and
// the hexadecimal digits of either case.
[[nodiscard]] bool IsHexKey(QChar c);
