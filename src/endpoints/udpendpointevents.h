#pragma once
// What UDP endpoints do with a received datagram: log and count it; a UDP
// Server also makes the sender its peer and passes the datagram on to its
// serial port. The handlers are connected with the controller as their
// context; the controller disconnects them before the record goes. UI thread
// only.

class Endpoint;
class EndpointController;
class UdpSocket;

void bindUdpClientEvents(EndpointController &controller, Endpoint &client, UdpSocket &udp);
// A new peer is announced to the controller as a change of the server.
void bindUdpServerEvents(EndpointController &controller, Endpoint &server, UdpSocket &udp);

// Reads the datagram waiting on a group endpoint's socket and logs it.
void onGroupDatagram(Endpoint &group);
