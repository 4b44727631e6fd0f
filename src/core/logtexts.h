#pragma once
// The texts a data window writes: time text, log lines, counters line. Pure
// functions of their inputs (the time text reads the clock), Qt Core only.

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The local time of day in the locale's long time format without a time-zone
// suffix, e.g. 14:05:33.
[[nodiscard]] QString TimeText(const QTime &time);
// The current one; formatted at most once a second however often it is asked.
[[nodiscard]] QString TimeText();
// The same with the milliseconds after the seconds, e.g. 14:05:33.042.
[[nodiscard]] QString TimeTextWithMilliseconds(const QTime &time);
// The current one.
[[nodiscard]] QString TimeTextWithMilliseconds();

// Short date, one blank, long time (the form of an endpoint's creation time).
[[nodiscard]] QString DateTimeText(const QDateTime &when);

// Received or sent bytes as the log shows them: decoded from the local 8-bit
// encoding, every line break (CR LF, CR or LF) starting a new line, and a zero
// byte shown as U+2400 so that it cannot cut the line.
[[nodiscard]] QString DataText(const QByteArray &data);

// time + " 收到数据：" + data [+ hex block]
[[nodiscard]] QString ReceiveLogLine(const QString &time, const QByteArray &data, bool hex);
// time + " 发送数据：" + data [+ hex block] + "[" + count + "次]"
[[nodiscard]] QString SendLogLine(
    const QString &time, const QByteArray &data, bool hex, const QString &count);
// time + " 发送数据：" [+ hex block] + data + "[" + count + "次]"
[[nodiscard]] QString TimedSendLogLine(
    const QString &time, const QByteArray &data, bool hex, const QString &count);

// time + " 自动应答：" + data [+ hex block]; a reply longer than
// LoggedReplyBytes shows its first bytes and then its length.
inline constexpr qsizetype LoggedReplyBytes = 4096;
[[nodiscard]] QString ReplyLogLine(const QString &time, const QByteArray &data, bool hex);

// A byte count or rate as a person reads it: "512 B", "1.5 KB", "12.0 MB",
// "1.20 GB" (1 KB = 1,024 bytes).
[[nodiscard]] QString ByteSizeText(qint64 bytes);

// "收：" + received + "字节，发:" + sent + "字节"
[[nodiscard]] QString CountersLine(qint64 received, qint64 sent);
