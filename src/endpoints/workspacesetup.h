#pragma once
// Between the endpoints a controller holds and a workspace: what to keep of
// them, and how to bring a kept setup up again. The window and the run
// without a window open a workspace the same way. UI thread only.

#include "session/workspace.h"

#include <QStringList>

#include <vector>

class Endpoint;
class EndpointController;

// The endpoints the user made (accepted peers come from traffic and are left
// out), each with its window's setup, reply rules and options, and the
// monitoring pipes between them.
[[nodiscard]] Workspace workspaceOf(EndpointController &controller);

// One endpoint of an opened workspace: nullptr where it could not be made at
// all, and what the controller told the user while making it (a port in
// use, a group not joined): an endpoint with problems did not come up whole.
struct OpenedEndpoint {
    Endpoint *endpoint = nullptr;
    QStringList problems;
};

// Makes the workspace's endpoints in order, as their creation dialogs would
// (servers listen, groups join, bridges open) and connects the TCP clients,
// then gives each its setup, rules and options, then links the pipes. A
// failing endpoint is reported through the controller's messages as its
// dialog's would be, and the others still come up.
std::vector<OpenedEndpoint> openWorkspace(EndpointController &controller, const Workspace &workspace);
