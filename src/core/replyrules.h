#pragma once
// Rule-based automatic replies: an ordered list of rules, each a way of
// matching a received piece and the reply it gives. Qt Core only.
//
// How a rule matches a received piece (case-sensitive, on bytes):
//   等于/包含/开头是/结尾是  the pattern's toLocal8Bit() bytes (how typed text
//                 is sent) against the received bytes. An empty pattern is a
//                 catch-all for 包含, 开头是 and 结尾是 (it matches every
//                 piece); for 等于 it matches nothing, pieces are never empty.
//   正则表达式     a regular expression (QRegularExpression's syntax) over the
//                 piece decoded as UTF-8, found anywhere in it (anchor with
//                 ^...$). Each byte that is not part of valid UTF-8 reads as
//                 one U+FFFD of its own, and the captures give back exactly
//                 the bytes they cover. A search that needs more than a
//                 bounded amount of work (a pattern that backtracks without
//                 end) gives up: the rule counts as not matching that piece,
//                 and the set's owner is told.
//   十六进制字节   the pattern is hex digits, two per byte, blanks allowed
//                 between bytes; matches a piece that contains those bytes.
//
// The reply is hex digits decoded as they stand (replyIsHex), or text sent as
// toLocal8Bit() after these are expanded:
//   \1..\9   the regex's captures (empty for other rules and unmatched groups)
//   \0       the whole match: the regex's match, the pattern's bytes otherwise
//   \\       one backslash
//   \r \n \t carriage return, line feed, tab
//   {time}   the time of the reply as hh:mm:ss
//   {count}  the replies given so far, this one included
//   {len}    the received piece's byte count
// Anything else, another backslash included, stays as it is.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QTime>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSettings;

// The most rules one window takes, from a file, the settings or the dialog:
// beyond it every received piece would go through a list nobody can review.
constexpr int MaxReplyRules = 5000;
// The largest rules file an import reads (5,000 rules of a hundred bytes
// each take half a megabyte).
constexpr qint64 MaxRulesFileBytes = 8 * 1024 * 1024;

enum class MatchType { Equals, Contains, StartsWith, EndsWith, Regex, HexBytes };

struct ReplyRule {
    bool enabled = true;
    MatchType match = MatchType::Contains;
    QString pattern;
    QString reply;
    bool replyIsHex = false; // reply given as hex digits
    bool operator==(const ReplyRule &) const = default;
};

// The name a user picks a match type by, in the interface's language ("等于",
// "包含", ... in Chinese), and back; the Chinese names are read back in either
// language. Stored rules use fixed keys of their own, never these names.
[[nodiscard]] QString matchTypeName(MatchType type);
[[nodiscard]] std::optional<MatchType> matchTypeFromName(const QString &name);

// Empty when the rule is usable, else the message that says what is wrong,
// naming the rule by its 1-based number.
[[nodiscard]] QString ruleProblem(const ReplyRule &rule, int number);

// A list of rules compiled for matching: byte patterns decoded, regular
// expressions compiled, reply templates cut at their expansions. Made once,
// on whatever thread checks the rules, and read-only afterwards: a rule set
// takes it up without compiling anything again.
struct CompiledReplyRules;

// What compiling rules may cost, counted over every list compiled with it:
// the rules of all the endpoints of one workspace file share one. A file of
// a few hundred kilobytes could otherwise ask for gigabytes and minutes (the
// pattern (?:\w\d){10000} compiles to 120 KB, and 5,000 of them fit in
// 330 KB). Used by one thread at a time.
class RuleCompileBudget {
public:
    // The compiled patterns together.
    static constexpr std::size_t MaxCompiledBytes = 32 * 1024 * 1024;
    // The compiling thread's processor time, for patterns slow to compile
    // for their size; the thread's own time, so that a busy machine does
    // not make a file fail that opens on an idle one.
    static constexpr qint64 MaxCompileMs = 3000;
    // Machine code is made for a pattern of at most this compiled size,
    // while all of it together stays within MaxMachineCodeBytes; the others
    // run in the interpreter, under the same limits.
    static constexpr std::size_t MachineCodeUpTo = 4096;
    static constexpr std::size_t MaxMachineCodeBytes = 16 * 1024 * 1024;

    // Never: the rules are only checked, not kept for matching.
    enum class MachineCode { Allowed, Never };

    // cancelled, when given, is looked at before each pattern: compiling
    // stops at the next one once it is set.
    explicit RuleCompileBudget(
        MachineCode machineCode = MachineCode::Allowed, const std::atomic<bool> *cancelled = nullptr);

    [[nodiscard]] bool isCancelled() const { return cancelled_ && cancelled_->load(); }

private:
    friend struct RuleCompiler;
    MachineCode machineCode_;
    const std::atomic<bool> *cancelled_;
    std::size_t compiledBytes_ = 0;
    std::size_t machineCodeBytes_ = 0;
    qint64 compileNs_ = 0;
};

// Why a list did not compile: its first rule that is not usable or at which
// the budget ran out (index counts from 0, text as ruleProblem words it), or
// that compiling was cancelled.
struct RuleCompileProblem {
    int index = -1;
    QString text;
    bool cancelled = false;
};

// The rules compiled, every one checked as ruleProblem checks it (disabled
// ones too, which are not kept); nullptr with *problem when one is not
// usable, the budget runs out or compiling is cancelled.
[[nodiscard]] std::shared_ptr<const CompiledReplyRules> compileReplyRules(
    const std::vector<ReplyRule> &rules, RuleCompileBudget &budget, RuleCompileProblem *problem);

// The rules of one data window, prepared for matching: the byte patterns,
// regular expressions and reply templates are built once when the rules are
// set, not per piece. Owned by its data window; UI thread only.
class ReplyRuleSet {
public:
    ReplyRuleSet();
    ~ReplyRuleSet();
    ReplyRuleSet(const ReplyRuleSet &) = delete;
    ReplyRuleSet &operator=(const ReplyRuleSet &) = delete;

    // Every rule should pass ruleProblem; one that does not, or that would
    // take the list past a budget of its own, is kept in rules() but never
    // matches.
    void setRules(std::vector<ReplyRule> rules);
    // Rules compiled already (compileReplyRules of these very rules).
    void setRules(std::vector<ReplyRule> rules, std::shared_ptr<const CompiledReplyRules> compiled);
    [[nodiscard]] const std::vector<ReplyRule> &rules() const { return rules_; }

    // The reply the first enabled rule that matches gives to a received piece,
    // expanded; nullopt when none matches. Counts the replies it gives.
    [[nodiscard]] std::optional<QByteArray> replyTo(
        const QByteArray &received, const QTime &now = QTime::currentTime());
    [[nodiscard]] qint64 repliesGiven() const { return repliesGiven_; }

    // Called, inside replyTo, when the regular expression of a rule (its
    // 1-based number) gave up on a piece; at most once a second per rule, so
    // a peer that sends such pieces without pause does not flood the log.
    using LimitHandler = std::function<void(int ruleNumber)>;
    void setLimitHandler(LimitHandler handler) { limitHandler_ = std::move(handler); }

private:
    struct PreparedRule;
    struct DecodedPiece;
    struct CompiledRule;
    friend struct CompiledReplyRules;
    friend struct RuleCompiler;

    // Whether a rule that gave up may be told now: once a second at most.
    [[nodiscard]] bool mayTellLimit(PreparedRule &rule);

    std::vector<ReplyRule> rules_;
    std::shared_ptr<const CompiledReplyRules> compiled_;
    std::vector<PreparedRule> prepared_;
    qint64 repliesGiven_ = 0;
    LimitHandler limitHandler_;
    QElapsedTimer clock_; // when each rule last told of its limit
};

// The stored name of a match type ("equals", "contains", ...): fixed, so that
// a file reads the same whatever the names shown to the user become. Rules
// files, the settings and workspaces all use it.
[[nodiscard]] QString matchTypeKey(MatchType type);
[[nodiscard]] std::optional<MatchType> matchTypeFromKey(const QString &key);

// The rules as a versioned JSON document that people can read and edit.
[[nodiscard]] QByteArray rulesToJson(const std::vector<ReplyRule> &rules);
// The rules of such a document; on a fault none, and *error says what is
// wrong ("规则文件格式错误：…", ruleProblem's text for a rule that is not
// usable or that takes the rules past a RuleCompileBudget, or that it holds
// more than MaxReplyRules). *error is emptied on success.
[[nodiscard]] std::vector<ReplyRule> rulesFromJson(const QByteArray &json, QString *error);

// The rules under `key` of the settings, written through to the file; false
// when the settings could not be written (a folder that cannot be written,
// a full disk).
[[nodiscard]] bool saveRules(QSettings &settings, const QString &key, const std::vector<ReplyRule> &rules);
// Loading reads the entries the settings hold, never more than
// MaxReplyRules, whatever size the list claims, and drops rules that no
// longer pass ruleProblem.
[[nodiscard]] std::vector<ReplyRule> loadRules(QSettings &settings, const QString &key);
