#pragma once
// Rule-based automatic replies: an ordered list of rules, each a way of
// matching a received piece and the reply it gives. Qt Core only.
//
// How a rule matches a received piece (case-sensitive, on bytes):
//   等于/包含/开头是/结尾是  the pattern's toLocal8Bit() bytes (how typed text
//                 is sent) against the received bytes. An empty pattern is a
//                 catch-all for 包含, 开头是 and 结尾是 (it matches every
//                 piece); for 等于 it matches nothing, pieces are never empty.
//   正则表达式     a QRegularExpression over QString::fromLocal8Bit(received),
//                 found anywhere in the piece (anchor with ^...$).
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
#include <QRegularExpression>
#include <QString>
#include <QTime>

#include <optional>
#include <vector>

class QSettings;

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

private:
    struct PreparedRule;

    std::vector<ReplyRule> rules_;
    std::vector<PreparedRule> prepared_;
    qint64 repliesGiven_ = 0;
};

// The rules as a versioned JSON document that people can read and edit.
[[nodiscard]] QByteArray rulesToJson(const std::vector<ReplyRule> &rules);
// The rules of such a document; on a fault none, and *error says what is
// wrong ("规则文件格式错误：…", or ruleProblem's text for a rule that is not
// usable). *error is emptied on success.
[[nodiscard]] std::vector<ReplyRule> rulesFromJson(const QByteArray &json, QString *error);

// The rules under `key` of the settings; loading drops rules that no longer
// pass ruleProblem.
void saveRules(QSettings &settings, const QString &key, const std::vector<ReplyRule> &rules);
[[nodiscard]] std::vector<ReplyRule> loadRules(QSettings &settings, const QString &key);
