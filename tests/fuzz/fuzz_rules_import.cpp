// A rules file as the rules dialog imports it: any bytes are refused with a
// reason or give at most MaxReplyRules rules, each usable, that export and
// import again as they are and answer a piece.
#include "core/replyrules.h"

#include "fuzzcheck.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

namespace {

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error = QStringLiteral("not emptied");
    const std::vector<ReplyRule> rules = rulesFromJson(bytes, &error);
    if (!error.isEmpty()) {
        check(rules.empty());
        return 0;
    }
    check(rules.size() <= size_t(MaxReplyRules));
    for (size_t k = 0; k < rules.size(); ++k)
        check(ruleProblem(rules[k], int(k + 1)).isEmpty());
    check(rulesFromJson(rulesToJson(rules), &error) == rules && error.isEmpty());

    ReplyRuleSet set;
    set.setRules(rules);
    (void)set.replyTo(bytes.left(64));
    return 0;
}
