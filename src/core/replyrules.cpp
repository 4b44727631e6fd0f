#include "core/replyrules.h"

#include "core/boundedregex.h"
#include "core/hexcodec.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <memory>

#include <ctime>

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

namespace {

QString invalidRegexText(const RegexCode::Compiled &compiled, int number)
{
    return QCoreApplication::translate("ReplyRules", "第%1条规则的正则表达式无效：%2 (位置 %3)")
        .arg(QString::number(number), compiled.error, QString::number(compiled.errorOffset));
}

// What ruleProblem finds beyond the regular expression.
QString patternAndReplyProblem(const ReplyRule &rule, int number)
{
    const QString n = QString::number(number);
    QByteArray bytes;
    if (rule.match == MatchType::HexBytes && !parseHexBytes(rule.pattern, &bytes))
        return QCoreApplication::translate("ReplyRules", "第%1条规则的十六进制内容无效").arg(n);
    const bool emptyReply = rule.replyIsHex ? rule.reply.trimmed().isEmpty() : rule.reply.isEmpty();
    if (emptyReply)
        return QCoreApplication::translate("ReplyRules", "第%1条规则的应答内容为空").arg(n);
    if (rule.replyIsHex && !parseHexBytes(rule.reply, &bytes))
        return QCoreApplication::translate("ReplyRules", "第%1条规则的应答内容不是有效的十六进制").arg(n);
    return {};
}

} // namespace

QString ruleProblem(const ReplyRule &rule, int number)
{
    if (rule.match == MatchType::Regex) {
        const RegexCode::Compiled compiled = RegexCode::compile(rule.pattern, 0);
        if (!compiled.code)
            return invalidRegexText(compiled, number);
    }
    return patternAndReplyProblem(rule, number);
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

// The piece as a regular expression reads it: UTF-8 decoded, where each
// byte that does not belong to a valid sequence reads as one U+FFFD of its
// own. byteAt[i] is where the bytes of code unit i start in the piece, and
// byteAt[text.size()] the piece's size, so that a capture gives back exactly
// the bytes it covers, valid UTF-8 or not. An ASCII piece (the common
// request) needs no table: code unit i is byte i.
struct ReplyRuleSet::DecodedPiece {
    QString text;
    std::vector<qsizetype> byteAt; // empty for an ASCII piece

    explicit DecodedPiece(const QByteArray &bytes)
    {
        const auto *b = reinterpret_cast<const uchar *>(bytes.constData());
        const qsizetype size = bytes.size();
        if (std::all_of(b, b + size, [](uchar c) { return c < 0x80; })) {
            text = QString::fromLatin1(bytes);
            return;
        }
        text.reserve(size);
        byteAt.reserve(size_t(size) + 1);
        const auto continuation = [&](qsizetype at) { return at < size && (b[at] & 0xC0) == 0x80; };
        qsizetype at = 0;
        while (at < size) {
            const uchar lead = b[at];
            char32_t code = 0xFFFD;
            qsizetype length = 1;
            if (lead < 0x80) {
                code = lead;
            } else if (lead >= 0xC2 && lead <= 0xF4) {
                const qsizetype need = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
                // The second byte's range rules out overlong forms,
                // surrogates and code points past U+10FFFF.
                const uchar low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
                const uchar high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
                bool valid = at + 1 < size && b[at + 1] >= low && b[at + 1] <= high;
                for (qsizetype k = 2; valid && k < need; ++k)
                    valid = continuation(at + k);
                if (valid) {
                    length = need;
                    code = lead & (0xFF >> (need + 1));
                    for (qsizetype k = 1; k < need; ++k)
                        code = (code << 6) | (b[at + k] & 0x3F);
                }
            }
            if (QChar::requiresSurrogates(code)) {
                text += QChar(QChar::highSurrogate(code));
                text += QChar(QChar::lowSurrogate(code));
                byteAt.push_back(at);
                byteAt.push_back(at);
            } else {
                text += QChar(char16_t(code));
                byteAt.push_back(at);
            }
            at += length;
        }
        byteAt.push_back(size);
    }

    // The bytes of [start, end) of text; none for a group that took no part.
    [[nodiscard]] QByteArray bytes(const QByteArray &piece, qsizetype start, qsizetype end) const
    {
        if (start < 0 || end < start)
            return {};
        if (byteAt.empty())
            return piece.mid(start, end - start);
        return piece.mid(byteAt[size_t(start)], byteAt[size_t(end)] - byteAt[size_t(start)]);
    }
};

// One enabled, usable rule as compiled: read-only, whatever thread made it.
struct ReplyRuleSet::CompiledRule {
    MatchType match;
    int number; // 1-based, among all the rules, as the user counts them
    QByteArray patternBytes; // text types: toLocal8Bit(); hex: the decoded bytes
    std::shared_ptr<const RegexCode> regex;
    std::vector<ReplyPart> reply;
};

struct CompiledReplyRules {
    std::vector<ReplyRuleSet::CompiledRule> rules;
};

// A compiled rule as one set searches with it.
struct ReplyRuleSet::PreparedRule {
    const CompiledRule *rule;
    std::unique_ptr<BoundedRegex> regex; // the search's own match data
    qint64 limitToldAt = -1; // the set's clock when it last gave up, as told

    // piece is the received bytes decoded, made by the first regex rule that
    // needs it; gaveUp says that the regex stopped at its bound.
    bool matches(const QByteArray &received, std::optional<DecodedPiece> &piece, bool &gaveUp) const
    {
        const QByteArray &patternBytes = rule->patternBytes;
        switch (rule->match) {
        case MatchType::Equals:
            return received == patternBytes;
        case MatchType::Contains:
        case MatchType::HexBytes:
            return received.contains(patternBytes);
        case MatchType::StartsWith:
            return received.startsWith(patternBytes);
        case MatchType::EndsWith:
            return received.endsWith(patternBytes);
        case MatchType::Regex: {
            if (!piece)
                piece.emplace(received);
            const BoundedRegex::Outcome outcome = regex->search(piece->text);
            gaveUp = outcome == BoundedRegex::Outcome::GaveUp;
            return outcome == BoundedRegex::Outcome::Matched;
        }
        }
        return false;
    }

    // The reply, its expansions filled in; piece is the decoded piece the
    // regex matched (none for the other types), count the replies given
    // with this one.
    [[nodiscard]] QByteArray expand(
        const QByteArray &received, const DecodedPiece *piece, qint64 count, const QTime &now) const
    {
        QByteArray out;
        for (const ReplyPart &part : rule->reply) {
            switch (part.kind) {
            case ReplyPart::Literal:
                out += part.literal;
                break;
            case ReplyPart::Capture:
                if (rule->match == MatchType::Regex)
                    out += piece->bytes(received, regex->groupStart(part.group), regex->groupEnd(part.group));
                else if (part.group == 0)
                    out += rule->patternBytes;
                break;
            case ReplyPart::Time:
                out += now.toString(QStringLiteral("hh:mm:ss")).toLatin1();
                break;
            case ReplyPart::Count:
                out += QByteArray::number(count);
                break;
            case ReplyPart::Length:
                out += QByteArray::number(received.size());
                break;
            }
        }
        return out;
    }
};

RuleCompileBudget::RuleCompileBudget(MachineCode machineCode, const std::atomic<bool> *cancelled)
    : machineCode_(machineCode)
    , cancelled_(cancelled)
{
}

// Compiles a list under a budget: refusing it at its first rule that fails,
// or leaving such rules out (what a rule set does with what it is given).
struct RuleCompiler {
    enum class Unusable { Refuse, LeaveOut };

    static qint64 threadNs()
    {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    }

    // The rule's problem, its compiled pattern in *regex when it has one.
    static QString compileRegex(
        const ReplyRule &rule, int number, RuleCompileBudget &budget, std::shared_ptr<const RegexCode> *regex)
    {
        const bool machineCode = rule.enabled
            && budget.machineCode_ == RuleCompileBudget::MachineCode::Allowed
            && budget.machineCodeBytes_ < RuleCompileBudget::MaxMachineCodeBytes;
        const qint64 started = threadNs();
        const RegexCode::Compiled compiled
            = RegexCode::compile(rule.pattern, machineCode ? RuleCompileBudget::MachineCodeUpTo : 0);
        budget.compileNs_ += threadNs() - started;
        if (!compiled.code)
            return invalidRegexText(compiled, number);
        const QString n = QString::number(number);
        if (budget.compileNs_ > RuleCompileBudget::MaxCompileMs * 1'000'000) {
            return QCoreApplication::translate("ReplyRules", "第%1条规则使正则表达式的总编译时间超出 %2 秒")
                .arg(n, QString::number(RuleCompileBudget::MaxCompileMs / 1000));
        }
        // A disabled rule is only checked: its code goes at once.
        if (!rule.enabled)
            return {};
        const std::size_t size = compiled.code->size();
        if (budget.compiledBytes_ + size > RuleCompileBudget::MaxCompiledBytes) {
            return QCoreApplication::translate("ReplyRules", "第%1条规则使正则表达式编译后的总大小超出 %2 MB")
                .arg(n, QString::number(RuleCompileBudget::MaxCompiledBytes / (1024 * 1024)));
        }
        budget.compiledBytes_ += size;
        budget.machineCodeBytes_ += compiled.code->machineCodeSize();
        *regex = compiled.code;
        return {};
    }

    static std::shared_ptr<const CompiledReplyRules> compile(const std::vector<ReplyRule> &rules,
        RuleCompileBudget &budget, Unusable unusable, RuleCompileProblem *problem)
    {
        auto compiled = std::make_shared<CompiledReplyRules>();
        for (size_t k = 0; k < rules.size(); ++k) {
            if (budget.isCancelled()) {
                if (problem)
                    *problem = {int(k), {}, true};
                return nullptr;
            }
            const ReplyRule &rule = rules[k];
            const int number = int(k + 1);
            ReplyRuleSet::CompiledRule made{rule.match, number, {}, {}, {}};
            QString text = rule.match == MatchType::Regex ? compileRegex(rule, number, budget, &made.regex)
                                                          : QString();
            if (text.isEmpty())
                text = patternAndReplyProblem(rule, number);
            if (!text.isEmpty()) {
                if (unusable == Unusable::LeaveOut)
                    continue;
                if (problem)
                    *problem = {int(k), text, false};
                return nullptr;
            }
            if (!rule.enabled)
                continue;
            if (rule.match == MatchType::HexBytes)
                parseHexBytes(rule.pattern, &made.patternBytes);
            else if (rule.match != MatchType::Regex)
                made.patternBytes = rule.pattern.toLocal8Bit();
            if (rule.replyIsHex) {
                QByteArray bytes;
                parseHexBytes(rule.reply, &bytes);
                made.reply.push_back({ReplyPart::Literal, bytes});
            } else {
                made.reply = parseReplyTemplate(rule.reply);
            }
            compiled->rules.push_back(std::move(made));
        }
        if (problem)
            *problem = {};
        return compiled;
    }
};

std::shared_ptr<const CompiledReplyRules> compileReplyRules(
    const std::vector<ReplyRule> &rules, RuleCompileBudget &budget, RuleCompileProblem *problem)
{
    return RuleCompiler::compile(rules, budget, RuleCompiler::Unusable::Refuse, problem);
}

ReplyRuleSet::ReplyRuleSet() = default;
ReplyRuleSet::~ReplyRuleSet() = default;

void ReplyRuleSet::setRules(std::vector<ReplyRule> rules)
{
    RuleCompileBudget budget;
    auto compiled = RuleCompiler::compile(rules, budget, RuleCompiler::Unusable::LeaveOut, nullptr);
    setRules(std::move(rules), std::move(compiled));
}

void ReplyRuleSet::setRules(std::vector<ReplyRule> rules, std::shared_ptr<const CompiledReplyRules> compiled)
{
    if (!compiled) {
        setRules(std::move(rules));
        return;
    }
    std::vector<PreparedRule> prepared;
    prepared.reserve(compiled->rules.size());
    for (const CompiledRule &rule : compiled->rules) {
        PreparedRule p{&rule, {}};
        if (rule.regex) {
            p.regex = std::make_unique<BoundedRegex>(rule.regex);
            if (!p.regex->isValid())
                continue;
        }
        prepared.push_back(std::move(p));
    }
    rules_ = std::move(rules);
    compiled_ = std::move(compiled);
    prepared_ = std::move(prepared);
}

std::optional<QByteArray> ReplyRuleSet::replyTo(const QByteArray &received, const QTime &now)
{
    std::optional<DecodedPiece> piece; // decoded once, for the first regex rule
    std::optional<QByteArray> reply;
    // Told once the list is no longer walked: the owner may set new rules.
    std::vector<int> gaveUp;
    for (PreparedRule &rule : prepared_) {
        bool stopped = false;
        if (rule.matches(received, piece, stopped)) {
            reply = rule.expand(received, piece ? &*piece : nullptr, ++repliesGiven_, now);
            break;
        }
        if (stopped && limitHandler_ && mayTellLimit(rule))
            gaveUp.push_back(rule.rule->number);
    }
    if (!gaveUp.empty()) {
        const LimitHandler handler = limitHandler_; // it may set another
        for (const int number : gaveUp)
            handler(number);
    }
    return reply;
}

bool ReplyRuleSet::mayTellLimit(PreparedRule &rule)
{
    if (!clock_.isValid())
        clock_.start();
    const qint64 now = clock_.elapsed();
    if (rule.limitToldAt >= 0 && now - rule.limitToldAt < 1000)
        return false;
    rule.limitToldAt = now;
    return true;
}
