// A serial setup in words: its line form, its delimiter as text, and its
// place in a workspace file, read with the checks and the wording of the
// workspace reader.
#include "session/serialsetup.h"

#include "session/workspace.h"
#include "session/workspace_internal.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace {

using workspace_internal::problemText;

const QString deviceKey = QStringLiteral("device");
const QString baudKey = QStringLiteral("baud");
const QString dataBitsKey = QStringLiteral("dataBits");
const QString parityKey = QStringLiteral("parity");
const QString stopBitsKey = QStringLiteral("stopBits");
const QString flowKey = QStringLiteral("flow");
const QString dtrKey = QStringLiteral("dtr");
const QString rtsKey = QStringLiteral("rts");
const QString framingKey = QStringLiteral("framing");
const QString gapMsKey = QStringLiteral("gapMs");
const QString delimiterKey = QStringLiteral("delimiter");
const QString messageCapKey = QStringLiteral("messageCap");
const QString autoReconnectKey = QStringLiteral("autoReconnect");

// A value quoted in a message, kept short.
QString shortened(const QString &text)
{
    constexpr qsizetype Shown = 40;
    return text.size() <= Shown ? text : text.left(Shown) + QStringLiteral("…");
}

template <class Choice, size_t Count>
using ChoiceNames = std::array<std::pair<Choice, QLatin1StringView>, Count>;

template <class Choice, size_t Count> QString nameOf(const ChoiceNames<Choice, Count> &names, Choice choice)
{
    for (const auto &[named, name] : names) {
        if (named == choice)
            return name;
    }
    return {};
}

template <class Choice, size_t Count>
std::optional<Choice> choiceNamed(const ChoiceNames<Choice, Count> &names, const QString &name)
{
    for (const auto &[choice, named] : names) {
        if (named == name)
            return choice;
    }
    return std::nullopt;
}

template <class Choice, size_t Count>
QString unknownChoice(const ChoiceNames<Choice, Count> &names, const QString &text)
{
    QStringList known;
    for (const auto &named : names)
        known.append(named.second);
    return QCoreApplication::translate("Workspace", "未知的取值“%1”（可为：%2）")
        .arg(shortened(text), known.join(QStringLiteral(", ")));
}

// The fixed names a file gives the choices, whatever the interface's
// language.
const ChoiceNames<SerialParity, 5> parityNames = {{
    {SerialParity::None, QLatin1StringView("none")},
    {SerialParity::Odd, QLatin1StringView("odd")},
    {SerialParity::Even, QLatin1StringView("even")},
    {SerialParity::Mark, QLatin1StringView("mark")},
    {SerialParity::Space, QLatin1StringView("space")},
}};
const ChoiceNames<SerialFlow, 3> flowNames = {{
    {SerialFlow::None, QLatin1StringView("none")},
    {SerialFlow::RtsCts, QLatin1StringView("rtscts")},
    {SerialFlow::XonXoff, QLatin1StringView("xonxoff")},
}};
const ChoiceNames<MessageFraming, 2> framingNames = {{
    {MessageFraming::Gap, QLatin1StringView("gap")},
    {MessageFraming::Delimiter, QLatin1StringView("delimiter")},
}};

const std::array<std::pair<QLatin1StringView, QByteArray>, 3> delimiterNames = {{
    {QLatin1StringView("CR"), QByteArrayLiteral("\r")},
    {QLatin1StringView("LF"), QByteArrayLiteral("\n")},
    {QLatin1StringView("CRLF"), QByteArrayLiteral("\r\n")},
}};

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

QString tooLongDelimiter(qsizetype bytes)
{
    return QCoreApplication::translate("SerialSetup", "分隔符过长：%1 个字节，最多 %2 个")
        .arg(QString::number(bytes), QString::number(MaxSerialDelimiterBytes));
}

QString emptyDelimiter()
{
    return QCoreApplication::translate("SerialSetup", "分隔符不能为空");
}

QString placeOf(const QString &where, const QString &key)
{
    return where.isEmpty() ? key : where + u'.' + key;
}

QString rangeProblem(qint64 value, qint64 lowest, qint64 highest, const QString &place)
{
    if (value >= lowest && value <= highest)
        return {};
    return problemText(place,
        QCoreApplication::translate("Workspace", "超出范围（%1～%2）")
            .arg(QString::number(lowest), QString::number(highest)));
}

} // namespace

QString serialLineForm(const SerialSetup &setup)
{
    static constexpr std::array<char, 5> parityLetters = {'N', 'O', 'E', 'M', 'S'};
    const auto parity = size_t(setup.parity);
    const QChar letter = parity < parityLetters.size() ? QChar(parityLetters[parity]) : QChar(u'?');
    return QString::number(setup.baud) + u' ' + QString::number(setup.dataBits) + letter
        + QString::number(setup.stopBits);
}

QString serialDelimiterText(const QByteArray &delimiter)
{
    for (const auto &[name, bytes] : delimiterNames) {
        if (bytes == delimiter)
            return name;
    }
    return QString::fromLatin1(delimiter.toHex(' ').toUpper());
}

std::optional<QByteArray> serialDelimiterFromText(const QString &text, QString *problem)
{
    if (problem)
        problem->clear();
    const QString trimmed = text.simplified();
    for (const auto &[name, bytes] : delimiterNames) {
        if (trimmed.compare(name, Qt::CaseInsensitive) == 0)
            return bytes;
    }
    const auto refuse = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    // Each group of digits is whole bytes: "0D0A" and "0D 0A" are two, "D A"
    // would be a guess.
    QByteArray delimiter;
    for (const QString &group : trimmed.split(u' ', Qt::SkipEmptyParts)) {
        for (const QChar c : group) {
            if (!isHexDigit(c)) {
                return refuse(
                    QCoreApplication::translate("SerialSetup", "“%1”不是十六进制数字").arg(QString(c)));
            }
        }
        if (group.size() % 2 != 0) {
            return refuse(
                QCoreApplication::translate("SerialSetup", "“%1”的十六进制数字个数为奇数，每个字节需两位")
                    .arg(shortened(group)));
        }
        delimiter += QByteArray::fromHex(group.toLatin1());
    }
    if (delimiter.isEmpty())
        return refuse(emptyDelimiter());
    if (delimiter.size() > MaxSerialDelimiterBytes)
        return refuse(tooLongDelimiter(delimiter.size()));
    return delimiter;
}

const std::array<QString, 13> &serialSetupKeys()
{
    static const std::array<QString, 13> keys = {deviceKey, baudKey, dataBitsKey, parityKey, stopBitsKey,
        flowKey, dtrKey, rtsKey, framingKey, gapMsKey, delimiterKey, messageCapKey, autoReconnectKey};
    return keys;
}

void writeSerialSetup(const SerialSetup &setup, QJsonObject &object)
{
    object.insert(deviceKey, setup.device);
    object.insert(baudKey, qint64(setup.baud));
    object.insert(dataBitsKey, setup.dataBits);
    object.insert(parityKey, nameOf(parityNames, setup.parity));
    object.insert(stopBitsKey, setup.stopBits);
    object.insert(flowKey, nameOf(flowNames, setup.flow));
    object.insert(dtrKey, setup.dtr);
    object.insert(rtsKey, setup.rts);
    object.insert(framingKey, nameOf(framingNames, setup.framing));
    object.insert(gapMsKey, setup.gapMs);
    object.insert(delimiterKey, serialDelimiterText(setup.delimiter));
    object.insert(messageCapKey, setup.messageCap);
    object.insert(autoReconnectKey, setup.autoReconnect);
}

QString serialSetupProblem(const SerialSetup &setup, const QString &where)
{
    const auto at = [&where](const QString &key) { return placeOf(where, key); };
    if (setup.device.isEmpty())
        return problemText(at(deviceKey), QCoreApplication::translate("Workspace", "不能为空"));
    if (setup.device.size() > MaxDevicePathLength) {
        return problemText(at(deviceKey),
            QCoreApplication::translate("Workspace", "过长：%1 个字符，最多 %2 个")
                .arg(QString::number(setup.device.size()), QString::number(MaxDevicePathLength)));
    }
    // Only a value cast from a number can have no name.
    if (nameOf(parityNames, setup.parity).isEmpty())
        return problemText(at(parityKey), unknownChoice(parityNames, QString::number(int(setup.parity))));
    if (nameOf(flowNames, setup.flow).isEmpty())
        return problemText(at(flowKey), unknownChoice(flowNames, QString::number(int(setup.flow))));
    if (nameOf(framingNames, setup.framing).isEmpty())
        return problemText(at(framingKey), unknownChoice(framingNames, QString::number(int(setup.framing))));
    QString problem = rangeProblem(setup.baud, 1, MaxSerialBaud, at(baudKey));
    if (problem.isEmpty())
        problem = rangeProblem(setup.dataBits, 5, 8, at(dataBitsKey));
    if (problem.isEmpty())
        problem = rangeProblem(setup.stopBits, 1, 2, at(stopBitsKey));
    if (problem.isEmpty())
        problem = rangeProblem(setup.gapMs, 0, MaxSerialGapMs, at(gapMsKey));
    if (!problem.isEmpty())
        return problem;
    if (setup.delimiter.isEmpty())
        return problemText(at(delimiterKey), emptyDelimiter());
    if (setup.delimiter.size() > MaxSerialDelimiterBytes)
        return problemText(at(delimiterKey), tooLongDelimiter(setup.delimiter.size()));
    return rangeProblem(setup.messageCap, 1, MaxSerialMessageCap, at(messageCapKey));
}

namespace {

// Reads one setup, keeping the first problem it meets as the workspace
// reader does; every read step says false once there is one. A missing
// optional value leaves its field as it was.
class SetupReader {
public:
    SetupReader(const QJsonObject &object, const QString &where)
        : object_(object)
        , where_(where)
    {
    }

    [[nodiscard]] const QString &problem() const { return problem_; }

    bool whole(const QString &key, int *to)
    {
        const QJsonValue value = object_.value(key);
        if (value.isUndefined())
            return true;
        const double number = value.toDouble();
        if (!value.isDouble() || std::trunc(number) != number)
            return fail(key, QCoreApplication::translate("Workspace", "应为整数"));
        // Beyond an int it is out of every range checked after.
        constexpr double Lowest = std::numeric_limits<int>::min();
        constexpr double Highest = std::numeric_limits<int>::max();
        *to = number < Lowest || number > Highest ? -1 : int(number);
        return true;
    }

    bool flag(const QString &key, bool *to)
    {
        const QJsonValue value = object_.value(key);
        if (value.isUndefined())
            return true;
        if (!value.isBool())
            return fail(key, QCoreApplication::translate("Workspace", "应为 true 或 false"));
        *to = value.toBool();
        return true;
    }

    bool text(const QString &key, bool required, QString *to)
    {
        const QJsonValue value = object_.value(key);
        if (value.isUndefined())
            return !required || fail(key, QCoreApplication::translate("Workspace", "缺失"));
        if (!value.isString())
            return fail(key, QCoreApplication::translate("Workspace", "应为文本"));
        *to = value.toString();
        return true;
    }

    template <class Choice, size_t Count>
    bool choice(const QString &key, const ChoiceNames<Choice, Count> &names, Choice *to)
    {
        QString name;
        if (!object_.contains(key))
            return true;
        if (!text(key, true, &name))
            return false;
        const std::optional<Choice> named = choiceNamed(names, name);
        if (!named)
            return fail(key, unknownChoice(names, name));
        *to = *named;
        return true;
    }

    bool delimiter(QByteArray *to)
    {
        QString written;
        if (!object_.contains(delimiterKey))
            return true;
        if (!text(delimiterKey, true, &written))
            return false;
        QString why;
        const std::optional<QByteArray> bytes = serialDelimiterFromText(written, &why);
        if (!bytes)
            return fail(delimiterKey, why);
        *to = *bytes;
        return true;
    }

private:
    bool fail(const QString &key, const QString &what)
    {
        problem_ = problemText(placeOf(where_, key), what);
        return false;
    }

    const QJsonObject &object_;
    const QString where_;
    QString problem_;
};

} // namespace

std::optional<SerialSetup> readSerialSetup(const QJsonObject &object, const QString &where, QString *problem)
{
    SetupReader reader(object, where);
    SerialSetup setup;
    int baud = int(setup.baud);
    const bool typed = reader.text(deviceKey, true, &setup.device) && reader.whole(baudKey, &baud)
        && reader.whole(dataBitsKey, &setup.dataBits) && reader.choice(parityKey, parityNames, &setup.parity)
        && reader.whole(stopBitsKey, &setup.stopBits) && reader.choice(flowKey, flowNames, &setup.flow)
        && reader.flag(dtrKey, &setup.dtr) && reader.flag(rtsKey, &setup.rts)
        && reader.choice(framingKey, framingNames, &setup.framing) && reader.whole(gapMsKey, &setup.gapMs)
        && reader.delimiter(&setup.delimiter) && reader.whole(messageCapKey, &setup.messageCap)
        && reader.flag(autoReconnectKey, &setup.autoReconnect);
    // A rate below 1, or past an int, is out of range either way.
    setup.baud = baud < 0 ? 0 : std::uint32_t(baud);
    // The values are all there with their types; whether each is usable is
    // what a setup in memory must pass too.
    QString found = typed ? serialSetupProblem(setup, where) : reader.problem();
    if (problem)
        *problem = found;
    if (!found.isEmpty())
        return std::nullopt;
    return setup;
}
