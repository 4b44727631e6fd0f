#include "core/usermessages.h"

#include "core/errors.h"

#include <utility>

namespace {

UserMessageSink &sink()
{
    static UserMessageSink current;
    return current;
}

} // namespace

UserMessageSink SetUserMessageSink(UserMessageSink next)
{
    return std::exchange(sink(), std::move(next));
}

void TellUser(const QString &text)
{
    if (sink().message)
        sink().message(text);
    else
        qWarning("%s", qPrintable(text));
}

void TellUserFailure(const std::exception &e)
{
    if (sink().failure)
        sink().failure(e);
    else
        qWarning("%s", qPrintable(ExceptionMessage(e)));
}
