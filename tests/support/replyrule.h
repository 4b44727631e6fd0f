#pragma once
// One automatic reply rule, written the way a test states it.

#include "core/replyrules.h"

inline ReplyRule rule(MatchType match, const QString &pattern, const QString &reply, bool replyIsHex = false)
{
    ReplyRule r;
    r.match = match;
    r.pattern = pattern;
    r.reply = reply;
    r.replyIsHex = replyIsHex;
    return r;
}
