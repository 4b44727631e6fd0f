#include "session/seriallines.h"

void SerialLines::show(State state, Levels levels)
{
    if (state == state_ && levels == levels_)
        return;
    state_ = state;
    levels_ = levels;
    emit changed();
}
