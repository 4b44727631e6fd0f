#pragma once
// A workspace: the endpoints a user set up, as the creation dialogs take
// them, with each one's window setup and reply rules, and the monitoring
// pipes between them; kept in a file so that the setup can be opened again
// or run without a window. What happens on the endpoints (accepted peers,
// logs, counters) is not part of it. Qt Core only; plain values, any thread.
//
// The file is UTF-8 JSON (README.md, "Workspaces", shows it): a top-level
// "format": 1, the "endpoints" in order and the "links" between them by
// their place in that order. Keys the reader does not know are ignored, so
// that a later version's file still opens; a key it knows must have the
// right type and a usable value, or the whole file is refused.

#include "core/replyrules.h"
#include "session/endpointkind.h"
#include "session/serialsetup.h"
#include "session/sessionsetup.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// Beyond these a file is not one a person set up: it is refused rather than
// building thousands of endpoints or megabytes of text into the window.
constexpr int MaxWorkspaceEndpoints = 1000;
// Host names are at most 253 characters.
constexpr qsizetype MaxAddressLength = 255;
// The repeat count and the interval, as typed.
constexpr qsizetype MaxNumberTextLength = 64;
constexpr qsizetype MaxDevicePathLength = 4095;
// The send text and a rule's pattern and reply.
constexpr qsizetype MaxFreeTextLength = 1024 * 1024;

// An endpoint's rules as the reader compiled them while it checked them, so
// that opening a workspace compiles nothing on the thread that opens it;
// none for a workspace made in memory. Equal rules compile alike: it plays
// no part in comparing workspaces.
struct PreparedReplyRules {
    std::shared_ptr<const CompiledReplyRules> compiled;
    bool operator==(const PreparedReplyRules &) const { return true; }
};

// One endpoint. What each kind uses (the rest stays at its default, and is
// neither written nor read):
//   TCP Server  port (listening), webReply (the fixed HTTP reply)
//   TCP Client  address, port (the peer's)
//   UDP Server  port (local), serialDevice (the device of its bridge to
//               "com1"; empty for the program's own)
//   UDP Client  address, port (the peer's), localPort
//   UDP Group   address, port (the group's)
//   Serial Port serial (the device, its line settings, modem lines, framing
//               and reconnecting); it has no port
// An accepted peer is never kept: it comes from its server's traffic.
struct WorkspaceEndpoint {
    EndpointKind kind = EndpointKind::TcpServer;
    QString address;
    int port = 0;
    int localPort = 0;
    QString serialDevice;
    bool webReply = false;
    SerialSetup serial;
    SessionSetup setup;
    std::vector<ReplyRule> rules;
    PreparedReplyRules prepared;

    bool operator==(const WorkspaceEndpoint &) const = default;
};

struct Workspace {
    std::vector<WorkspaceEndpoint> endpoints;
    // Monitoring pipes, by index into endpoints: two endpoints of different
    // kinds, each in one pipe at most (as the window links them).
    std::vector<std::pair<int, int>> links;

    bool operator==(const Workspace &) const = default;
};

// The file's content: indented, the keys always in the same order, so that
// saving an unchanged workspace gives the same bytes.
[[nodiscard]] QByteArray writeWorkspace(const Workspace &workspace);

// The workspace a file holds, its rules compiled (one RuleCompileBudget for
// the whole file); nullopt when anything in it is wrong, with *problem
// saying what and where first ("工作区文件格式错误：endpoints[2].port：…").
// *problem is emptied on success. Once cancelled is set the check ends at
// its next endpoint or rule, with nullopt and no problem.
[[nodiscard]] std::optional<Workspace> parseWorkspace(
    const QByteArray &bytes, QString *problem, const std::atomic<bool> *cancelled = nullptr);

// Empty when the workspace could be written and read back as it is (its
// rules within the budget of a file too); else the message for its first
// problem, as parseWorkspace words it.
[[nodiscard]] QString workspaceProblem(const Workspace &workspace);
