#pragma once
// What the writer (workspace.cpp) and the reader (workspace_read.cpp) of
// workspace files share: the keys, the kinds' names and the checks of values
// that a file and a workspace in memory must both pass. Not for other users.

#include "session/workspace.h"

#include <QString>

#include <optional>

namespace workspace_internal {

constexpr int FormatVersion = 1;
constexpr int MaxPort = 65535;

inline const QString formatKey = QStringLiteral("format");
inline const QString endpointsKey = QStringLiteral("endpoints");
inline const QString linksKey = QStringLiteral("links");
inline const QString kindKey = QStringLiteral("kind");
inline const QString addressKey = QStringLiteral("address");
inline const QString portKey = QStringLiteral("port");
inline const QString localPortKey = QStringLiteral("localPort");
inline const QString serialDeviceKey = QStringLiteral("serialDevice");
inline const QString webReplyKey = QStringLiteral("webReply");
inline const QString serialKey = QStringLiteral("serial");
inline const QString setupKey = QStringLiteral("setup");
inline const QString rulesKey = QStringLiteral("rules");
inline const QString sendTextKey = QStringLiteral("sendText");
inline const QString hexModeKey = QStringLiteral("hexMode");
inline const QString repeatCountKey = QStringLiteral("repeatCount");
inline const QString intervalKey = QStringLiteral("interval");
inline const QString millisecondsKey = QStringLiteral("milliseconds");
inline const QString autoReplyKey = QStringLiteral("autoReply");
inline const QString timedSendingKey = QStringLiteral("timedSending");
// A rule's keys and match names are those of the rules export file.
inline const QString enabledKey = QStringLiteral("enabled");
inline const QString matchKey = QStringLiteral("match");
inline const QString patternKey = QStringLiteral("pattern");
inline const QString replyKey = QStringLiteral("reply");
inline const QString replyIsHexKey = QStringLiteral("replyIsHex");

// The fixed names a file gives the kinds, whatever the interface's language
// (match types are named as rules files name them: matchTypeKey). An
// accepted peer has no name: it is never stored.
[[nodiscard]] QString kindName(EndpointKind kind);
[[nodiscard]] std::optional<EndpointKind> kindFromName(const QString &name);

// Which of the optional creation values a kind has.
[[nodiscard]] bool hasAddress(EndpointKind kind);
[[nodiscard]] bool hasLocalPort(EndpointKind kind);
// Every kind but a serial port has one.
[[nodiscard]] bool hasPort(EndpointKind kind);

// "工作区文件格式错误：<place>：<what>", or without a place.
[[nodiscard]] QString problemText(const QString &place, const QString &what);
[[nodiscard]] QString endpointPlace(int index);
[[nodiscard]] QString tooManyEndpointsProblem(qsizetype count);
[[nodiscard]] QString tooManyRulesProblem(qsizetype count, const QString &place);

// The first value of an endpoint that a file may not hold (a port out of
// range, a text too long, too many rules, a rule that is not usable or past
// the budget) as problemText words it; empty when there is none. The rules
// are compiled under the budget, into *compiled when given.
[[nodiscard]] QString endpointProblem(const WorkspaceEndpoint &endpoint, int index, RuleCompileBudget &budget,
    std::shared_ptr<const CompiledReplyRules> *compiled = nullptr);
// The first link that names no endpoint, the endpoint itself, two of one
// kind, or an endpoint already linked.
[[nodiscard]] QString linksProblem(const Workspace &workspace);

} // namespace workspace_internal
