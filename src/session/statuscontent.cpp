#include "session/statuscontent.h"

void StatusContent::takeIn(const StatusContent &newer)
{
    if (newer.state)
        state = newer.state;
    created = newer.created;
    peerAddress = newer.peerAddress;
    peerPort = newer.peerPort;
    spare = newer.spare;
    localPort = newer.localPort;
    if (newer.startCaption)
        startCaption = newer.startCaption;
    if (newer.stopCaption)
        stopCaption = newer.stopCaption;
    startVisible = newer.startVisible;
    stopVisible = newer.stopVisible;
    if (newer.running)
        running = newer.running;
}
