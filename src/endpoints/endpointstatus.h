#pragma once
// What a data window's status panel shows for an endpoint: state word,
// creation time, peer or group address and port, local port, and the
// captions, visibility and enabled state of the start and stop buttons.

#include "session/statuscontent.h"

class Endpoint;

// Holds no state and changes nothing.
[[nodiscard]] StatusContent statusOf(const Endpoint &endpoint);
