// Workspace files read back: the whole document is checked before anything
// of it is handed out, and the first problem is named with its place.
#include "session/workspace.h"

#include "session/workspace_internal.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

using namespace workspace_internal;

// A value quoted from the file in a message, kept short: a message box
// should not show a megabyte of a damaged file.
QString shortened(const QString &text)
{
    constexpr qsizetype Shown = 40;
    return text.size() <= Shown ? text : text.left(Shown) + QStringLiteral("…");
}

// Reads one document, keeping the first problem it meets; every read step
// says false once there is one.
class DocumentReader {
public:
    explicit DocumentReader(const std::atomic<bool> *cancelled)
        : cancelled_(cancelled)
        , budget_(RuleCompileBudget::MachineCode::Allowed, cancelled)
    {
    }

    std::optional<Workspace> read(const QByteArray &bytes);
    [[nodiscard]] const QString &problem() const { return problem_; }

private:
    enum class Need { Required, Optional };

    bool fail(const QString &problem)
    {
        problem_ = problem;
        return false;
    }
    bool fail(const QString &place, const QString &what) { return fail(problemText(place, what)); }

    // The value under key, or false with the problem when it is missing
    // but required. A missing optional value leaves *found undefined and
    // *to as it was.
    bool find(
        const QJsonObject &object, const QString &key, const QString &place, Need need, QJsonValue *found);
    bool readWhole(const QJsonObject &object, const QString &key, const QString &place, Need need, int *to);
    bool readBool(const QJsonObject &object, const QString &key, const QString &place, Need need, bool *to);
    bool readText(
        const QJsonObject &object, const QString &key, const QString &place, Need need, QString *to);
    bool readList(
        const QJsonObject &object, const QString &key, const QString &place, Need need, QJsonArray *to);
    bool readEndpoint(const QJsonValue &value, int index, WorkspaceEndpoint *endpoint);
    bool readSetup(const QJsonObject &object, const QString &place, SessionSetup *setup);
    bool readSerial(const QJsonObject &object, const QString &in, SerialSetup *serial);
    bool readRule(const QJsonValue &value, const QString &place, ReplyRule *rule);
    bool readLinks(const QJsonObject &root, Workspace *workspace);
    [[nodiscard]] bool isCancelled() const { return cancelled_ && cancelled_->load(); }

    const std::atomic<bool> *cancelled_;
    // The rules of every endpoint of the file together.
    RuleCompileBudget budget_;
    QString problem_;
};

bool DocumentReader::find(
    const QJsonObject &object, const QString &key, const QString &place, Need need, QJsonValue *found)
{
    *found = object.value(key);
    if (!found->isUndefined() || need == Need::Optional)
        return true;
    return fail(place + key, QCoreApplication::translate("Workspace", "缺失"));
}

bool DocumentReader::readWhole(
    const QJsonObject &object, const QString &key, const QString &place, Need need, int *to)
{
    QJsonValue value;
    if (!find(object, key, place, need, &value))
        return false;
    if (value.isUndefined())
        return true;
    const double number = value.toDouble();
    if (!value.isDouble() || std::trunc(number) != number)
        return fail(place + key, QCoreApplication::translate("Workspace", "应为整数"));
    // Beyond an int it is out of any range the caller checks.
    constexpr double Lowest = std::numeric_limits<int>::min();
    constexpr double Highest = std::numeric_limits<int>::max();
    *to = number < Lowest || number > Highest ? -1 : int(number);
    return true;
}

bool DocumentReader::readBool(
    const QJsonObject &object, const QString &key, const QString &place, Need need, bool *to)
{
    QJsonValue value;
    if (!find(object, key, place, need, &value))
        return false;
    if (value.isUndefined())
        return true;
    if (!value.isBool())
        return fail(place + key, QCoreApplication::translate("Workspace", "应为 true 或 false"));
    *to = value.toBool();
    return true;
}

bool DocumentReader::readText(
    const QJsonObject &object, const QString &key, const QString &place, Need need, QString *to)
{
    QJsonValue value;
    if (!find(object, key, place, need, &value))
        return false;
    if (value.isUndefined())
        return true;
    if (!value.isString())
        return fail(place + key, QCoreApplication::translate("Workspace", "应为文本"));
    *to = value.toString();
    return true;
}

bool DocumentReader::readList(
    const QJsonObject &object, const QString &key, const QString &place, Need need, QJsonArray *to)
{
    QJsonValue value;
    if (!find(object, key, place, need, &value))
        return false;
    if (value.isUndefined())
        return true;
    if (!value.isArray())
        return fail(place + key, QCoreApplication::translate("Workspace", "应为列表"));
    *to = value.toArray();
    return true;
}

std::optional<Workspace> DocumentReader::read(const QByteArray &bytes)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        fail(QString(),
            QCoreApplication::translate("Workspace", "%1 (位置 %2)")
                .arg(parseError.errorString(), QString::number(parseError.offset)));
        return std::nullopt;
    }
    if (!document.isObject()) {
        fail(QString(), QCoreApplication::translate("Workspace", "不是工作区文件"));
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    int format = 0;
    if (!readWhole(root, formatKey, QString(), Need::Required, &format))
        return std::nullopt;
    if (format != FormatVersion) {
        fail(formatKey,
            QCoreApplication::translate("Workspace", "不支持的格式版本 %1")
                .arg(root.value(formatKey).toVariant().toString()));
        return std::nullopt;
    }
    QJsonArray endpoints;
    if (!readList(root, endpointsKey, QString(), Need::Required, &endpoints))
        return std::nullopt;
    if (endpoints.size() > MaxWorkspaceEndpoints) {
        fail(tooManyEndpointsProblem(endpoints.size()));
        return std::nullopt;
    }
    Workspace workspace;
    workspace.endpoints.resize(size_t(endpoints.size()));
    for (qsizetype k = 0; k < endpoints.size(); ++k) {
        if (isCancelled() || !readEndpoint(endpoints[k], int(k), &workspace.endpoints[size_t(k)]))
            return std::nullopt;
    }
    if (!readLinks(root, &workspace))
        return std::nullopt;
    return workspace;
}

bool DocumentReader::readEndpoint(const QJsonValue &value, int index, WorkspaceEndpoint *endpoint)
{
    const QString place = endpointPlace(index);
    if (!value.isObject())
        return fail(place, QCoreApplication::translate("Workspace", "应为对象"));
    const QJsonObject object = value.toObject();
    const QString in = place + u'.';
    QString kindText;
    if (!readText(object, kindKey, in, Need::Required, &kindText))
        return false;
    const std::optional<EndpointKind> kind = kindFromName(kindText);
    if (!kind) {
        return fail(in + kindKey,
            QCoreApplication::translate("Workspace", "未知的端点类型“%1”").arg(shortened(kindText)));
    }
    endpoint->kind = *kind;
    if (hasAddress(*kind) && !readText(object, addressKey, in, Need::Required, &endpoint->address))
        return false;
    if (hasPort(*kind) && !readWhole(object, portKey, in, Need::Required, &endpoint->port))
        return false;
    if (hasLocalPort(*kind) && !readWhole(object, localPortKey, in, Need::Required, &endpoint->localPort))
        return false;
    if (*kind == EndpointKind::UdpServer
        && !readText(object, serialDeviceKey, in, Need::Optional, &endpoint->serialDevice))
        return false;
    if (*kind == EndpointKind::TcpServer
        && !readBool(object, webReplyKey, in, Need::Optional, &endpoint->webReply))
        return false;
    if (*kind == EndpointKind::SerialPort && !readSerial(object, in, &endpoint->serial))
        return false;

    const QJsonValue setup = object.value(setupKey);
    if (!setup.isUndefined() && !setup.isObject())
        return fail(in + setupKey, QCoreApplication::translate("Workspace", "应为对象"));
    if (!readSetup(setup.toObject(), in + setupKey + u'.', &endpoint->setup))
        return false;

    QJsonArray rules;
    if (!readList(object, rulesKey, in, Need::Optional, &rules))
        return false;
    // Counted before any is read: a list far too long is not worth reading.
    if (rules.size() > MaxReplyRules)
        return fail(tooManyRulesProblem(rules.size(), in + rulesKey));
    endpoint->rules.resize(size_t(rules.size()));
    for (qsizetype k = 0; k < rules.size(); ++k) {
        const QString rulePlace = in + rulesKey + u'[' + QString::number(k) + u']';
        if (!readRule(rules[k], rulePlace, &endpoint->rules[size_t(k)]))
            return false;
    }
    // The values are all there with their types; whether each is usable is
    // what a workspace in memory must pass too. The rules are compiled
    // here, once, and kept for opening.
    QString problem = endpointProblem(*endpoint, index, budget_, &endpoint->prepared.compiled);
    if (!problem.isEmpty())
        return fail(problem);
    return !isCancelled();
}

bool DocumentReader::readSerial(const QJsonObject &object, const QString &in, SerialSetup *serial)
{
    QJsonValue found;
    if (!find(object, serialKey, in, Need::Required, &found))
        return false;
    if (!found.isObject())
        return fail(in + serialKey, QCoreApplication::translate("Workspace", "应为对象"));
    QString problem;
    const std::optional<SerialSetup> read = readSerialSetup(found.toObject(), in + serialKey, &problem);
    if (!read)
        return fail(problem);
    *serial = *read;
    return true;
}

bool DocumentReader::readSetup(const QJsonObject &object, const QString &place, SessionSetup *setup)
{
    return readText(object, sendTextKey, place, Need::Optional, &setup->sendText)
        && readBool(object, hexModeKey, place, Need::Optional, &setup->hexMode)
        && readText(object, repeatCountKey, place, Need::Optional, &setup->repeatCount)
        && readText(object, intervalKey, place, Need::Optional, &setup->interval)
        && readBool(object, millisecondsKey, place, Need::Optional, &setup->milliseconds)
        && readBool(object, autoReplyKey, place, Need::Optional, &setup->autoReply)
        && readBool(object, timedSendingKey, place, Need::Optional, &setup->timedSending);
}

bool DocumentReader::readRule(const QJsonValue &value, const QString &place, ReplyRule *rule)
{
    if (!value.isObject())
        return fail(place, QCoreApplication::translate("Workspace", "应为对象"));
    const QJsonObject object = value.toObject();
    const QString in = place + u'.';
    QString matchText;
    if (!readText(object, matchKey, in, Need::Required, &matchText))
        return false;
    const std::optional<MatchType> match = matchTypeFromKey(matchText);
    if (!match) {
        return fail(in + matchKey,
            QCoreApplication::translate("Workspace", "未知的匹配方式“%1”").arg(shortened(matchText)));
    }
    rule->match = *match;
    return readBool(object, enabledKey, in, Need::Optional, &rule->enabled)
        && readText(object, patternKey, in, Need::Required, &rule->pattern)
        && readText(object, replyKey, in, Need::Required, &rule->reply)
        && readBool(object, replyIsHexKey, in, Need::Optional, &rule->replyIsHex);
}

bool DocumentReader::readLinks(const QJsonObject &root, Workspace *workspace)
{
    QJsonArray links;
    if (!readList(root, linksKey, QString(), Need::Optional, &links))
        return false;
    // Each endpoint is in one link at most: more links than that are wrong
    // whatever they hold.
    if (links.size() > qsizetype(workspace->endpoints.size())) {
        return fail(linksKey,
            QCoreApplication::translate("Workspace", "监听管道过多：%1 条，端点只有 %2 个")
                .arg(QString::number(links.size()), QString::number(workspace->endpoints.size())));
    }
    for (qsizetype k = 0; k < links.size(); ++k) {
        const QJsonArray ends = links[k].toArray();
        const auto whole = [](const QJsonValue &end) {
            return end.isDouble() && std::trunc(end.toDouble()) == end.toDouble();
        };
        if (!links[k].isArray() || ends.size() != 2 || !whole(ends[0]) || !whole(ends[1])) {
            return fail(linksKey + u'[' + QString::number(k) + u']',
                QCoreApplication::translate("Workspace", "应为两个端点序号的列表"));
        }
        // An index past any int names no endpoint either.
        const auto index = [](const QJsonValue &end) {
            const double number = end.toDouble();
            constexpr double Highest = std::numeric_limits<int>::max();
            return number < 0 || number > Highest ? -1 : int(number);
        };
        workspace->links.emplace_back(index(ends[0]), index(ends[1]));
    }
    if (QString problem = linksProblem(*workspace); !problem.isEmpty())
        return fail(problem);
    return true;
}

} // namespace

std::optional<Workspace> parseWorkspace(
    const QByteArray &bytes, QString *problem, const std::atomic<bool> *cancelled)
{
    DocumentReader reader(cancelled);
    std::optional<Workspace> workspace = reader.read(bytes);
    if (problem)
        *problem = reader.problem();
    return workspace;
}
