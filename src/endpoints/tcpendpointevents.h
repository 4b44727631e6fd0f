#pragma once
// What TCP server and TCP client endpoints do when their sockets report:
// peers become endpoints of their own, data is logged in the right window,
// the web reply answers, and linked servers and clients open and close each
// other (the monitoring pipe). The handlers are bound to the endpoint record
// they serve and connected with the controller that holds the endpoints as
// their context; the controller disconnects them before the record goes.
// UI thread only.

class EndpointController;
class TcpClient;
class Endpoint;
class TcpServer;

// Connects to the server's five peer signals (room to write goes to the file
// transfers) and to its own errors.
void bindTcpServerEvents(EndpointController &window, Endpoint &server, TcpServer &socket);
// Connects to the client's connect, read, write, disconnect and error signals,
// and passes a failed connect on as the controller's connectFailed.
void bindTcpClientEvents(EndpointController &window, Endpoint &client, TcpClient &socket);

// Closes every accepted connection (each one removes its peer endpoint), then
// stops listening: stopped, and announced as changed.
void stopServer(EndpointController &window, Endpoint &server);
