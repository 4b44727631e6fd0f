#pragma once

class Endpoint;

// Rewrites the status panel of the record's data window from the record: state
// word, creation time, peer or group address and port, local port, and the
// captions, visibility and enabled state of the start and stop buttons.
// Holds no state; safe to call any number of times. UI thread only.
void RefreshStatus(const Endpoint &record);
