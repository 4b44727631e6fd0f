#pragma once
// What a data window's status panel shows for an endpoint: state word,
// creation time, peer or group address and port, local port, and the
// captions, visibility and enabled state of the start and stop buttons.

#include "datawindow/statuspanel.h"

class Endpoint;

// Holds no state and changes nothing.
[[nodiscard]] StatusPanel::Content statusOf(const Endpoint &endpoint);

// Shows statusOf(endpoint) in the endpoint's data window, if it has one.
// Safe to call any number of times. UI thread only.
void refreshStatus(const Endpoint &endpoint);
