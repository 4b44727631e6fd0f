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

#include <functional>
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

// The rules of one data window, prepared for matching: the byte patterns,
// regular expressions and reply templates are built once when the rules are
// set, not per piece. Owned by its data window; UI thread only.
class ReplyRuleSet {
public:
    ReplyRuleSet();
    ~ReplyRuleSet();
    ReplyRuleSet(const ReplyRuleSet &) = delete;
    ReplyRuleSet &operator=(const ReplyRuleSet &) = delete;

    // Every rule should pass ruleProblem; one that does not is kept in rules()
    // but never matches.
    void setRules(std::vector<ReplyRule> rules);
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

    // Whether a rule that gave up may be told now: once a second at most.
    [[nodiscard]] bool mayTellLimit(PreparedRule &rule);

    std::vector<ReplyRule> rules_;
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
// usable, or that it holds more than MaxReplyRules). *error is emptied on
// success.
[[nodiscard]] std::vector<ReplyRule> rulesFromJson(const QByteArray &json, QString *error);

// The rules under `key` of the settings, written through to the file; false
// when the settings could not be written (a folder that cannot be written,
// a full disk).
[[nodiscard]] bool saveRules(QSettings &settings, const QString &key, const std::vector<ReplyRule> &rules);
// Loading reads the entries the settings hold, never more than
// MaxReplyRules, whatever size the list claims, and drops rules that no
// longer pass ruleProblem.
[[nodiscard]] std::vector<ReplyRule> loadRules(QSettings &settings, const QString &key);
