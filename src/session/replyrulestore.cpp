#include "session/replyrulestore.h"

#include <QHash>
#include <QSettings>

namespace {

QSettings replyRuleSettings()
{
    return QSettings(QStringLiteral("Portwright"), QStringLiteral("portwright"));
}

} // namespace

std::shared_ptr<KeptReplyRules> keptReplyRules(const QString &key)
{
    static QHash<QString, std::weak_ptr<KeptReplyRules>> kept;
    if (std::shared_ptr<KeptReplyRules> held = kept.value(key).lock())
        return held;
    kept.removeIf([](const auto &entry) { return entry.value().expired(); });
    auto fresh = std::make_shared<KeptReplyRules>();
    QSettings settings = replyRuleSettings();
    fresh->rules = loadRules(settings, key);
    kept.insert(key, fresh);
    return fresh;
}

bool storeReplyRules(const QString &key, const std::vector<ReplyRule> &rules, QString *where)
{
    QSettings settings = replyRuleSettings();
    if (saveRules(settings, key, rules))
        return true;
    if (where)
        *where = settings.fileName();
    return false;
}
