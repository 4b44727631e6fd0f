#include "core/replyrules.h"

#include "core/hexcodec.h"

#include <QCoreApplication>

#include <array>

namespace {

// Untranslated here: a table made before main would never see the translator.
// The names are translated where they are shown and where they are read back.
constexpr std::array<const char *, 6> matchTypeNames = {
    QT_TRANSLATE_NOOP("ReplyRules", "等于"),
    QT_TRANSLATE_NOOP("ReplyRules", "包含"),
    QT_TRANSLATE_NOOP("ReplyRules", "开头是"),
    QT_TRANSLATE_NOOP("ReplyRules", "结尾是"),
    QT_TRANSLATE_NOOP("ReplyRules", "正则表达式"),
    QT_TRANSLATE_NOOP("ReplyRules", "十六进制字节"),
};

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

// Hex digits, two per byte, with blanks allowed between bytes but not inside
// one ("41 4243" is three bytes, "4 1" is not a byte). False for no digits.
bool parseHexBytes(const QString &text, QByteArray *bytes)
{
    QString digits;
    digits.reserve(text.size());
    qsizetype run = 0;
    for (const QChar c : text) {
        if (c.isSpace()) {
            if (run % 2 != 0)
                return false;
            run = 0;
        } else if (isHexDigit(c)) {
            digits += c;
            ++run;
        } else {
            return false;
        }
    }
    if (run % 2 != 0 || digits.isEmpty())
        return false;
    *bytes = HexTextToBytes(digits);
    return true;
}

} // namespace

QString matchTypeName(MatchType type)
{
    return QCoreApplication::translate("ReplyRules", matchTypeNames[size_t(type)]);
}

std::optional<MatchType> matchTypeFromName(const QString &name)
{
    // The name shown in the interface's language, or the Chinese one, which
    // is what the interface showed before it could be switched.
    for (size_t k = 0; k < matchTypeNames.size(); ++k) {
        if (name == matchTypeName(MatchType(k)) || name == QString::fromUtf8(matchTypeNames[k]))
            return MatchType(k);
    }
    return std::nullopt;
}

QString ruleProblem(const ReplyRule &rule, int number)
{
    const QString n = QString::number(number);
    QByteArray bytes;
    if (rule.match == MatchType::Regex) {
        const QRegularExpression regex(rule.pattern);
        if (!regex.isValid()) {
            return QCoreApplication::translate("ReplyRules", "第%1条规则的正则表达式无效：%2 (位置 %3)")
                .arg(n, regex.errorString(), QString::number(regex.patternErrorOffset()));
        }
    } else if (rule.match == MatchType::HexBytes && !parseHexBytes(rule.pattern, &bytes)) {
        return QCoreApplication::translate("ReplyRules", "第%1条规则的十六进制内容无效").arg(n);
    }
    const bool emptyReply = rule.replyIsHex ? rule.reply.trimmed().isEmpty() : rule.reply.isEmpty();
    if (emptyReply)
        return QCoreApplication::translate("ReplyRules", "第%1条规则的应答内容为空").arg(n);
    if (rule.replyIsHex && !parseHexBytes(rule.reply, &bytes))
        return QCoreApplication::translate("ReplyRules", "第%1条规则的应答内容不是有效的十六进制").arg(n);
    return {};
}

namespace {

// A text reply cut at its expansions, so that giving a reply only joins
// bytes: "OK \\1 {count}" is [literal "OK ", capture 1, literal " ", count].
struct ReplyPart {
    enum Kind { Literal, Capture, Time, Count, Length };
    Kind kind;
    QByteArray literal;
    int group = 0;
};

std::vector<ReplyPart> parseReplyTemplate(const QString &reply)
{
    static const std::array<std::pair<QLatin1StringView, ReplyPart::Kind>, 3> placeholders = {{
        {QLatin1StringView("{time}"), ReplyPart::Time},
        {QLatin1StringView("{count}"), ReplyPart::Count},
        {QLatin1StringView("{len}"), ReplyPart::Length},
    }};
    std::vector<ReplyPart> parts;
    QString literal;
    const auto flush = [&] {
        if (!literal.isEmpty())
            parts.push_back({ReplyPart::Literal, literal.toLocal8Bit()});
        literal.clear();
    };
    qsizetype i = 0;
    while (i < reply.size()) {
        const QChar c = reply[i];
        if (c == QLatin1Char('\\') && i + 1 < reply.size()) {
            const QChar next = reply[i + 1];
            if (next >= QLatin1Char('0') && next <= QLatin1Char('9')) {
                flush();
                parts.push_back({ReplyPart::Capture, {}, next.unicode() - '0'});
                i += 2;
                continue;
            }
            if (next == QLatin1Char('\\')) {
                literal += c;
                i += 2;
                continue;
            }
            // Line ends and tabs, which a device's protocol often wants and a
            // one-line cell cannot hold.
            const char16_t escaped = next == u'r' ? u'\r' : next == u'n' ? u'\n' : next == u't' ? u'\t' : 0;
            if (escaped) {
                literal += QChar(escaped);
                i += 2;
                continue;
            }
        } else if (c == QLatin1Char('{')) {
            bool expanded = false;
            for (const auto &[text, kind] : placeholders) {
                if (QStringView(reply).sliced(i).startsWith(text)) {
                    flush();
                    parts.push_back({kind, {}});
                    i += text.size();
                    expanded = true;
                    break;
                }
            }
            if (expanded)
                continue;
        }
        literal += c;
        ++i;
    }
    flush();
    return parts;
}

} // namespace

struct ReplyRuleSet::PreparedRule {
    MatchType match;
    QByteArray patternBytes; // text types: toLocal8Bit(); hex: the decoded bytes
    QRegularExpression regex;
    std::vector<ReplyPart> reply;

    // receivedText is the piece decoded, made by the first regex rule that
    // needs it; found is the regex's match.
    bool matches(const QByteArray &received, std::optional<QString> &receivedText,
        QRegularExpressionMatch &found) const
    {
        switch (match) {
        case MatchType::Equals:
            return received == patternBytes;
        case MatchType::Contains:
        case MatchType::HexBytes:
            return received.contains(patternBytes);
        case MatchType::StartsWith:
            return received.startsWith(patternBytes);
        case MatchType::EndsWith:
            return received.endsWith(patternBytes);
        case MatchType::Regex:
            if (!receivedText)
                receivedText = QString::fromLocal8Bit(received);
            found = regex.match(*receivedText);
            return found.hasMatch();
        }
        return false;
    }
};

ReplyRuleSet::ReplyRuleSet() = default;
ReplyRuleSet::~ReplyRuleSet() = default;

void ReplyRuleSet::setRules(std::vector<ReplyRule> rules)
{
    std::vector<PreparedRule> prepared;
    prepared.reserve(rules.size());
    for (size_t k = 0; k < rules.size(); ++k) {
        const ReplyRule &rule = rules[k];
        if (!rule.enabled || !ruleProblem(rule, int(k + 1)).isEmpty())
            continue;
        PreparedRule p{rule.match, {}, {}, {}};
        if (rule.match == MatchType::Regex) {
            p.regex.setPattern(rule.pattern);
            p.regex.optimize();
        } else if (rule.match == MatchType::HexBytes) {
            parseHexBytes(rule.pattern, &p.patternBytes);
        } else {
            p.patternBytes = rule.pattern.toLocal8Bit();
        }
        if (rule.replyIsHex) {
            QByteArray bytes;
            parseHexBytes(rule.reply, &bytes);
            p.reply.push_back({ReplyPart::Literal, bytes});
        } else {
            p.reply = parseReplyTemplate(rule.reply);
        }
        prepared.push_back(std::move(p));
    }
    rules_ = std::move(rules);
    prepared_ = std::move(prepared);
}

std::optional<QByteArray> ReplyRuleSet::replyTo(const QByteArray &received, const QTime &now)
{
    std::optional<QString> receivedText; // decoded once, for the first regex rule
    QRegularExpressionMatch found;
    for (const PreparedRule &rule : prepared_) {
        if (!rule.matches(received, receivedText, found))
            continue;
        ++repliesGiven_;
        QByteArray reply;
        for (const ReplyPart &part : rule.reply) {
            switch (part.kind) {
            case ReplyPart::Literal:
                reply += part.literal;
                break;
            case ReplyPart::Capture:
                if (rule.match == MatchType::Regex)
                    reply += found.captured(part.group).toLocal8Bit();
                else if (part.group == 0)
                    reply += rule.patternBytes;
                break;
            case ReplyPart::Time:
                reply += now.toString(QStringLiteral("hh:mm:ss")).toLatin1();
                break;
            case ReplyPart::Count:
                reply += QByteArray::number(repliesGiven_);
                break;
            case ReplyPart::Length:
                reply += QByteArray::number(received.size());
                break;
            }
        }
        return reply;
    }
    return std::nullopt;
}
