// A workspace file as a stranger may hand it over (a .portwright file opened
// from a file manager), through the whole check the reader runs: the JSON,
// every endpoint with its serial setup and links, and its rules compiled
// under the file's budget. What passes must be a workspace that is written
// and read back as it is, and whose compiled rules answer a piece.
#include "core/replyrules.h"
#include "session/workspace.h"

#include "fuzzcheck.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

namespace {

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString problem = QStringLiteral("not emptied");
    const std::optional<Workspace> read = parseWorkspace(bytes, &problem);
    if (!read) {
        check(!problem.isEmpty());
        return 0;
    }
    check(problem.isEmpty());
    check(workspaceProblem(*read).isEmpty());
    const QByteArray written = writeWorkspace(*read);
    const std::optional<Workspace> again = parseWorkspace(written, &problem);
    check(again && *again == *read);
    check(writeWorkspace(*again) == written);

    // The rules as the reader compiled them, against a piece of the input.
    const QByteArray piece = bytes.left(64);
    for (const WorkspaceEndpoint &endpoint : read->endpoints) {
        check(endpoint.prepared.compiled != nullptr);
        ReplyRuleSet set;
        set.setRules(endpoint.rules, endpoint.prepared.compiled);
        check(set.rules() == endpoint.rules);
        (void)set.replyTo(piece);
    }
    return 0;
}
