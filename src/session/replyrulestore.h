#pragma once
// Where automatic reply rules are kept: across restarts in the settings under
// their key (the endpoint's kind and port), and within a run as one list per
// key that every session of the key answers by. UI thread only.

#include "core/replyrules.h"

#include <QString>

#include <memory>
#include <vector>

// The rules of one key (two TCP clients of one port share it). Kept while a
// session of the key holds it; the next session of a key nobody holds reads
// the settings, as after a restart.
struct KeptReplyRules {
    std::vector<ReplyRule> rules;
    quint64 version = 0; // counts the lists accepted for the key
};

[[nodiscard]] std::shared_ptr<KeptReplyRules> keptReplyRules(const QString &key);
// Writes the rules of the key to the settings; false when they cannot be
// written, with the settings' file name in where.
[[nodiscard]] bool storeReplyRules(const QString &key, const std::vector<ReplyRule> &rules, QString *where);
