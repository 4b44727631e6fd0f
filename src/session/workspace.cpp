// Workspaces written to JSON, and the checks a workspace must pass to be
// written and read back.
#include "session/workspace.h"

#include "session/workspace_internal.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

namespace workspace_internal {

namespace {

const std::array<std::pair<EndpointKind, QLatin1StringView>, 6> kindNames = {{
    {EndpointKind::TcpServer, QLatin1StringView("tcpServer")},
    {EndpointKind::TcpClient, QLatin1StringView("tcpClient")},
    {EndpointKind::UdpServer, QLatin1StringView("udpServer")},
    {EndpointKind::UdpClient, QLatin1StringView("udpClient")},
    {EndpointKind::UdpGroup, QLatin1StringView("udpGroup")},
    {EndpointKind::SerialPort, QLatin1StringView("serialPort")},
}};

QString portProblem(int port, const QString &place)
{
    if (port >= 0 && port <= MaxPort)
        return {};
    return problemText(place, QCoreApplication::translate("Workspace", "端口超出范围（0～%1）").arg(MaxPort));
}

QString lengthProblem(const QString &text, qsizetype maxLength, const QString &place)
{
    if (text.size() <= maxLength)
        return {};
    return problemText(place,
        QCoreApplication::translate("Workspace", "过长：%1 个字符，最多 %2 个")
            .arg(QString::number(text.size()), QString::number(maxLength)));
}

} // namespace

QString kindName(EndpointKind kind)
{
    for (const auto &[named, name] : kindNames) {
        if (named == kind)
            return name;
    }
    return {};
}

std::optional<EndpointKind> kindFromName(const QString &name)
{
    for (const auto &[kind, named] : kindNames) {
        if (named == name)
            return kind;
    }
    return std::nullopt;
}

bool hasAddress(EndpointKind kind)
{
    return kind == EndpointKind::TcpClient || kind == EndpointKind::UdpClient
        || kind == EndpointKind::UdpGroup;
}

bool hasPort(EndpointKind kind)
{
    return kind != EndpointKind::SerialPort;
}

bool hasLocalPort(EndpointKind kind)
{
    return kind == EndpointKind::UdpClient;
}

QString problemText(const QString &place, const QString &what)
{
    if (place.isEmpty())
        return QCoreApplication::translate("Workspace", "工作区文件格式错误：%1").arg(what);
    return QCoreApplication::translate("Workspace", "工作区文件格式错误：%1：%2").arg(place, what);
}

QString endpointPlace(int index)
{
    return endpointsKey + u'[' + QString::number(index) + u']';
}

QString tooManyEndpointsProblem(qsizetype count)
{
    return problemText(endpointsKey,
        QCoreApplication::translate("Workspace", "端点过多：%1 个，最多 %2 个")
            .arg(QString::number(count), QString::number(MaxWorkspaceEndpoints)));
}

QString tooManyRulesProblem(qsizetype count, const QString &place)
{
    return problemText(place,
        QCoreApplication::translate("Workspace", "规则过多：%1 条，最多 %2 条")
            .arg(QString::number(count), QString::number(MaxReplyRules)));
}

QString endpointProblem(const WorkspaceEndpoint &endpoint, int index, RuleCompileBudget &budget,
    std::shared_ptr<const CompiledReplyRules> *compiled)
{
    const QString place = endpointPlace(index);
    const auto at = [&place](const QString &key) { return place + u'.' + key; };
    if (kindName(endpoint.kind).isEmpty()) {
        return problemText(at(kindKey),
            QCoreApplication::translate("Workspace", "未知的端点类型“%1”").arg(kindLabel(endpoint.kind)));
    }
    QString problem = hasPort(endpoint.kind) ? portProblem(endpoint.port, at(portKey)) : QString();
    if (problem.isEmpty() && endpoint.kind == EndpointKind::SerialPort)
        problem = serialSetupProblem(endpoint.serial, at(serialKey));
    if (problem.isEmpty() && hasLocalPort(endpoint.kind))
        problem = portProblem(endpoint.localPort, at(localPortKey));
    if (problem.isEmpty() && hasAddress(endpoint.kind))
        problem = lengthProblem(endpoint.address, MaxAddressLength, at(addressKey));
    if (problem.isEmpty() && endpoint.kind == EndpointKind::UdpServer)
        problem = lengthProblem(endpoint.serialDevice, MaxDevicePathLength, at(serialDeviceKey));
    const QString setupPlace = at(setupKey) + u'.';
    if (problem.isEmpty())
        problem = lengthProblem(endpoint.setup.sendText, MaxFreeTextLength, setupPlace + sendTextKey);
    if (problem.isEmpty())
        problem = lengthProblem(endpoint.setup.repeatCount, MaxNumberTextLength, setupPlace + repeatCountKey);
    if (problem.isEmpty())
        problem = lengthProblem(endpoint.setup.interval, MaxNumberTextLength, setupPlace + intervalKey);
    if (!problem.isEmpty())
        return problem;
    if (endpoint.rules.size() > size_t(MaxReplyRules))
        return tooManyRulesProblem(qsizetype(endpoint.rules.size()), at(rulesKey));
    const auto rulePlace = [&](size_t k) { return at(rulesKey) + u'[' + QString::number(k) + u']'; };
    // Texts too long are found before anything is compiled, but a rule
    // before the first of them that is not usable comes first.
    size_t checked = 0;
    for (; checked < endpoint.rules.size() && problem.isEmpty(); ++checked) {
        const ReplyRule &rule = endpoint.rules[checked];
        const QString place = rulePlace(checked) + u'.';
        problem = lengthProblem(rule.pattern, MaxFreeTextLength, place + patternKey);
        if (problem.isEmpty())
            problem = lengthProblem(rule.reply, MaxFreeTextLength, place + replyKey);
    }
    if (!problem.isEmpty())
        --checked;
    const std::vector<ReplyRule> before(endpoint.rules.begin(), endpoint.rules.begin() + qsizetype(checked));
    RuleCompileProblem unusable;
    std::shared_ptr<const CompiledReplyRules> made = compileReplyRules(before, budget, &unusable);
    if (unusable.cancelled)
        return {};
    if (!made)
        return problemText(rulePlace(size_t(unusable.index)), unusable.text);
    if (compiled && problem.isEmpty())
        *compiled = std::move(made);
    return problem;
}

QString linksProblem(const Workspace &workspace)
{
    const int count = int(workspace.endpoints.size());
    // The link each endpoint is in so far.
    std::vector<int> linkOf(workspace.endpoints.size(), -1);
    for (size_t k = 0; k < workspace.links.size(); ++k) {
        const auto [first, second] = workspace.links[k];
        const QString place = linksKey + u'[' + QString::number(k) + u']';
        for (const auto &[end, which] : {std::pair(first, 0), std::pair(second, 1)}) {
            if (end < 0 || end >= count) {
                return problemText(place + u'[' + QString::number(which) + u']',
                    QCoreApplication::translate("Workspace", "没有序号为 %1 的端点（共 %2 个，从 0 起）")
                        .arg(QString::number(end), QString::number(count)));
            }
        }
        if (first == second)
            return problemText(place, QCoreApplication::translate("Workspace", "端点不能与自身建立监听管道"));
        if (workspace.endpoints[size_t(first)].kind == workspace.endpoints[size_t(second)].kind)
            return problemText(
                place, QCoreApplication::translate("Workspace", "同类端点之间不能建立监听管道"));
        for (const int end : {first, second}) {
            if (const int earlier = linkOf[size_t(end)]; earlier >= 0) {
                return problemText(place,
                    QCoreApplication::translate("Workspace", "端点 %1 已在 links[%2] 的监听管道中")
                        .arg(QString::number(end), QString::number(earlier)));
            }
            linkOf[size_t(end)] = int(k);
        }
    }
    return {};
}

} // namespace workspace_internal

namespace {

using namespace workspace_internal;

// Qt's own quoting, so that Qt's reader takes every text back as it was.
QByteArray quoted(const QString &text)
{
    const QByteArray list = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return list.mid(1, list.size() - 2);
}

// JSON with the keys in the order they are given (QJsonObject sorts them),
// indented by four as QJsonDocument indents.
class JsonWriter {
public:
    void beginObject() { begin('{'); }
    void endObject() { end('}'); }
    void beginArray() { begin('['); }
    void endArray() { end(']'); }
    void key(const QString &name)
    {
        nextItem();
        out_ += quoted(name);
        out_ += ": ";
        keyed_ = true;
    }
    void value(const QString &text)
    {
        beginValue();
        out_ += quoted(text);
    }
    void value(bool on)
    {
        beginValue();
        out_ += on ? "true" : "false";
    }
    void value(int number)
    {
        beginValue();
        out_ += QByteArray::number(number);
    }
    // Two numbers on one line.
    void pair(int first, int second)
    {
        beginValue();
        out_ += '[' + QByteArray::number(first) + ", " + QByteArray::number(second) + ']';
    }
    [[nodiscard]] QByteArray text() const { return out_ + '\n'; }

private:
    void begin(char bracket)
    {
        beginValue();
        out_ += bracket;
        items_.push_back(0);
    }
    void end(char bracket)
    {
        const bool empty = items_.back() == 0;
        items_.pop_back();
        if (!empty)
            newLine();
        out_ += bracket;
    }
    void beginValue()
    {
        if (keyed_)
            keyed_ = false;
        else if (!items_.empty())
            nextItem();
    }
    void nextItem()
    {
        if (items_.back()++ > 0)
            out_ += ',';
        newLine();
    }
    void newLine()
    {
        out_ += '\n';
        out_ += QByteArray(4 * qsizetype(items_.size()), ' ');
    }

    QByteArray out_;
    std::vector<int> items_; // written so far in each open object or list
    bool keyed_ = false; // a key was written, its value comes next
};

// The setup's keys in the order a person reads them (the device first),
// not in the sorted order of a JSON object.
void writeSerial(JsonWriter &json, const SerialSetup &serial)
{
    QJsonObject fields;
    writeSerialSetup(serial, fields);
    json.beginObject();
    for (const QString &name : serialSetupKeys()) {
        const QJsonValue field = fields.value(name);
        json.key(name);
        if (field.isBool())
            json.value(field.toBool());
        else if (field.isDouble())
            json.value(field.toInt());
        else
            json.value(field.toString());
    }
    json.endObject();
}

void writeEndpoint(JsonWriter &json, const WorkspaceEndpoint &endpoint)
{
    json.beginObject();
    json.key(kindKey);
    json.value(kindName(endpoint.kind));
    if (hasAddress(endpoint.kind)) {
        json.key(addressKey);
        json.value(endpoint.address);
    }
    if (hasPort(endpoint.kind)) {
        json.key(portKey);
        json.value(endpoint.port);
    }
    if (hasLocalPort(endpoint.kind)) {
        json.key(localPortKey);
        json.value(endpoint.localPort);
    }
    if (endpoint.kind == EndpointKind::UdpServer) {
        json.key(serialDeviceKey);
        json.value(endpoint.serialDevice);
    }
    if (endpoint.kind == EndpointKind::TcpServer) {
        json.key(webReplyKey);
        json.value(endpoint.webReply);
    }
    if (endpoint.kind == EndpointKind::SerialPort) {
        json.key(serialKey);
        writeSerial(json, endpoint.serial);
    }

    const SessionSetup &setup = endpoint.setup;
    json.key(setupKey);
    json.beginObject();
    json.key(sendTextKey);
    json.value(setup.sendText);
    json.key(hexModeKey);
    json.value(setup.hexMode);
    json.key(repeatCountKey);
    json.value(setup.repeatCount);
    json.key(intervalKey);
    json.value(setup.interval);
    json.key(millisecondsKey);
    json.value(setup.milliseconds);
    json.key(autoReplyKey);
    json.value(setup.autoReply);
    json.key(timedSendingKey);
    json.value(setup.timedSending);
    json.endObject();

    json.key(rulesKey);
    json.beginArray();
    for (const ReplyRule &rule : endpoint.rules) {
        json.beginObject();
        json.key(enabledKey);
        json.value(rule.enabled);
        json.key(matchKey);
        json.value(matchTypeKey(rule.match));
        json.key(patternKey);
        json.value(rule.pattern);
        json.key(replyKey);
        json.value(rule.reply);
        json.key(replyIsHexKey);
        json.value(rule.replyIsHex);
        json.endObject();
    }
    json.endArray();
    json.endObject();
}

} // namespace

QByteArray writeWorkspace(const Workspace &workspace)
{
    JsonWriter json;
    json.beginObject();
    json.key(formatKey);
    json.value(FormatVersion);
    json.key(endpointsKey);
    json.beginArray();
    for (const WorkspaceEndpoint &endpoint : workspace.endpoints)
        writeEndpoint(json, endpoint);
    json.endArray();
    json.key(linksKey);
    json.beginArray();
    for (const auto &[first, second] : workspace.links)
        json.pair(first, second);
    json.endArray();
    json.endObject();
    return json.text();
}

QString workspaceProblem(const Workspace &workspace)
{
    if (workspace.endpoints.size() > size_t(MaxWorkspaceEndpoints))
        return tooManyEndpointsProblem(qsizetype(workspace.endpoints.size()));
    // A file that would be refused for its rules is not written: the same
    // budget, but no machine code for rules that are only checked.
    RuleCompileBudget budget(RuleCompileBudget::MachineCode::Never);
    for (size_t k = 0; k < workspace.endpoints.size(); ++k) {
        if (QString problem = endpointProblem(workspace.endpoints[k], int(k), budget); !problem.isEmpty())
            return problem;
    }
    return linksProblem(workspace);
}
