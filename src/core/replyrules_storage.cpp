// The rules written to and read from a JSON document and the settings.
#include "core/replyrules.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <algorithm>
#include <array>

namespace {

// Stored names of the match types: fixed, so that a file reads the same
// whatever the names shown to the user become.
const std::array<QLatin1StringView, 6> matchTypeKeys = {
    QLatin1StringView("equals"),
    QLatin1StringView("contains"),
    QLatin1StringView("startsWith"),
    QLatin1StringView("endsWith"),
    QLatin1StringView("regex"),
    QLatin1StringView("hexBytes"),
};

const QString formatName = QStringLiteral("portwright-reply-rules");
constexpr int formatVersion = 1;

const QString enabledKey = QStringLiteral("enabled");
const QString matchKey = QStringLiteral("match");
const QString patternKey = QStringLiteral("pattern");
const QString replyKey = QStringLiteral("reply");
const QString replyIsHexKey = QStringLiteral("replyIsHex");

QString formatError(const QString &what)
{
    return QCoreApplication::translate("ReplyRules", "规则文件格式错误：") + what;
}

QString fieldError(int number, const QString &field)
{
    return formatError(QCoreApplication::translate("ReplyRules", "第%1条规则的“%2”缺失或类型不对")
                           .arg(QString::number(number), field));
}

// One entry of the document's rule list; an empty error means it was read
// (whether it is usable is for the compile of the whole list).
ReplyRule ruleFromJson(const QJsonValue &value, int number, QString *error)
{
    ReplyRule rule;
    if (!value.isObject()) {
        *error = formatError(QCoreApplication::translate("ReplyRules", "第%1条规则不是一个对象").arg(number));
        return rule;
    }
    const QJsonObject entry = value.toObject();
    for (const QString &key : {enabledKey, replyIsHexKey}) {
        if (!entry.value(key).isBool()) {
            *error = fieldError(number, key);
            return rule;
        }
    }
    for (const QString &key : {matchKey, patternKey, replyKey}) {
        if (!entry.value(key).isString()) {
            *error = fieldError(number, key);
            return rule;
        }
    }
    const QString matchText = entry.value(matchKey).toString();
    const std::optional<MatchType> match = matchTypeFromKey(matchText);
    if (!match) {
        *error = formatError(QCoreApplication::translate("ReplyRules", "第%1条规则的匹配方式“%2”未知")
                                 .arg(QString::number(number), matchText));
        return rule;
    }
    rule.enabled = entry.value(enabledKey).toBool();
    rule.match = *match;
    rule.pattern = entry.value(patternKey).toString();
    rule.reply = entry.value(replyKey).toString();
    rule.replyIsHex = entry.value(replyIsHexKey).toBool();
    return rule;
}

} // namespace

QString matchTypeKey(MatchType type)
{
    return matchTypeKeys[size_t(type)];
}

std::optional<MatchType> matchTypeFromKey(const QString &key)
{
    for (size_t k = 0; k < matchTypeKeys.size(); ++k) {
        if (matchTypeKeys[k] == key)
            return MatchType(k);
    }
    return std::nullopt;
}

QByteArray rulesToJson(const std::vector<ReplyRule> &rules)
{
    QJsonArray list;
    for (const ReplyRule &rule : rules) {
        list.append(QJsonObject{
            {enabledKey, rule.enabled},
            {matchKey, matchTypeKeys[size_t(rule.match)]},
            {patternKey, rule.pattern},
            {replyKey, rule.reply},
            {replyIsHexKey, rule.replyIsHex},
        });
    }
    const QJsonObject document{
        {QStringLiteral("format"), formatName},
        {QStringLiteral("version"), formatVersion},
        {QStringLiteral("rules"), list},
    };
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

std::vector<ReplyRule> rulesFromJson(const QByteArray &json, QString *error)
{
    QString problem;
    std::vector<ReplyRule> rules;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    const QJsonObject root = document.object();
    const QJsonValue version = root.value(QStringLiteral("version"));
    const QJsonValue list = root.value(QStringLiteral("rules"));
    if (parseError.error != QJsonParseError::NoError) {
        problem = formatError(QCoreApplication::translate("ReplyRules", "%1 (位置 %2)")
                                  .arg(parseError.errorString(), QString::number(parseError.offset)));
    } else if (!document.isObject() || root.value(QStringLiteral("format")).toString() != formatName) {
        problem = formatError(QCoreApplication::translate("ReplyRules", "不是自动应答规则文件"));
    } else if (!version.isDouble()) {
        problem = formatError(QCoreApplication::translate("ReplyRules", "缺少版本号"));
    } else if (version.toDouble() != formatVersion) {
        problem = formatError(
            QCoreApplication::translate("ReplyRules", "不支持的版本 %1").arg(version.toDouble()));
    } else if (!list.isArray()) {
        problem = formatError(QCoreApplication::translate("ReplyRules", "缺少规则列表"));
    } else if (const qsizetype count = list.toArray().size(); count > MaxReplyRules) {
        problem = QCoreApplication::translate("ReplyRules", "规则文件中的规则过多：%1 条，最多 %2 条")
                      .arg(QString::number(count), QString::number(MaxReplyRules));
    } else {
        const QJsonArray entries = list.toArray();
        for (qsizetype k = 0; k < entries.size() && problem.isEmpty(); ++k)
            rules.push_back(ruleFromJson(entries[k], int(k + 1), &problem));
        // The rules read so far, before one that could not be read, are
        // compiled under the budget a workspace's rules have: an import is
        // as much a stranger's file. The first fault in the list is named.
        if (!problem.isEmpty())
            rules.pop_back();
        RuleCompileBudget budget(RuleCompileBudget::MachineCode::Never);
        RuleCompileProblem unusable;
        if (!compileReplyRules(rules, budget, &unusable))
            problem = unusable.text;
    }
    if (!problem.isEmpty())
        rules.clear();
    if (error)
        *error = problem;
    return rules;
}

bool saveRules(QSettings &settings, const QString &key, const std::vector<ReplyRule> &rules)
{
    // Without the old entries a shorter list leaves none of them behind.
    settings.remove(key);
    settings.beginWriteArray(key, int(rules.size()));
    for (size_t k = 0; k < rules.size(); ++k) {
        const ReplyRule &rule = rules[k];
        settings.setArrayIndex(int(k));
        settings.setValue(enabledKey, rule.enabled);
        settings.setValue(matchKey, QString(matchTypeKeys[size_t(rule.match)]));
        settings.setValue(patternKey, rule.pattern);
        settings.setValue(replyKey, rule.reply);
        settings.setValue(replyIsHexKey, rule.replyIsHex);
    }
    settings.endArray();
    // QSettings writes later and says nothing of a failure unless asked.
    settings.sync();
    return settings.status() == QSettings::NoError;
}

std::vector<ReplyRule> loadRules(QSettings &settings, const QString &key)
{
    // The list's size is what the file says, and a hand-edited file may say
    // two thousand million: the entries are looked up by the numbers the
    // file holds, not by counting up to the size.
    const int claimed = settings.beginReadArray(key);
    settings.endArray();
    settings.beginGroup(key);
    std::vector<int> numbers;
    for (const QString &group : settings.childGroups()) {
        bool isNumber = false;
        const int number = group.toInt(&isNumber);
        // Entries are numbered from 1; an entry past the size is not part
        // of the list.
        if (isNumber && number >= 1 && number <= claimed && group == QString::number(number))
            numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<ReplyRule> rules;
    for (const int number : numbers) {
        if (rules.size() >= size_t(MaxReplyRules))
            break;
        settings.beginGroup(QString::number(number));
        const std::optional<MatchType> match = matchTypeFromKey(settings.value(matchKey).toString());
        ReplyRule rule;
        if (match) {
            rule.enabled = settings.value(enabledKey, true).toBool();
            rule.match = *match;
            rule.pattern = settings.value(patternKey).toString();
            rule.reply = settings.value(replyKey).toString();
            rule.replyIsHex = settings.value(replyIsHexKey, false).toBool();
        }
        settings.endGroup();
        if (match && ruleProblem(rule, int(rules.size() + 1)).isEmpty())
            rules.push_back(rule);
    }
    settings.endGroup();
    return rules;
}
