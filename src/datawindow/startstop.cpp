// The data window's ties to its endpoint's transport: the start and stop
// buttons and the group socket's read message.

#include "endpoints/endpoint.h"
#include "app/mainwindow.h"
#include "endpoints/endpointstatus.h"
#include "endpoints/tcpendpointevents.h"
#include "endpoints/udpendpointevents.h"
#include "core/errors.h"
#include "datawindow/datawindow.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/datagramcalls.h"
#include "ui/messages.h"
#include "ui/stateimages.h"

#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidgetItem>

void DataWindow::connectHandlers()
{
    const auto guarded = [this](void (DataWindow::*handler)()) {
        return [this, handler] { Guarded([this, handler] { (this->*handler)(); }); };
    };
    connect(sendButton, &QPushButton::clicked, this, guarded(&DataWindow::sendTyped));
    connect(resetCountersButton, &QPushButton::clicked, this, guarded(&DataWindow::resetCounters));
    connect(startTimerButton, &QPushButton::clicked, this, guarded(&DataWindow::startTimedSending));
    connect(stopTimerButton, &QPushButton::clicked, this, guarded(&DataWindow::stopTimedSending));
    connect(startButton, &QPushButton::clicked, this, guarded(&DataWindow::startEndpoint));
    connect(timer, &QTimer::timeout, this, guarded(&DataWindow::sendOnTimer));
    // Stopping follows the release of any mouse button on the stop button.
    stopButton->installEventFilter(this);
}

void DataWindow::startEndpoint()
{
    Endpoint *endpoint = attachedEndpoint;
    if (!endpoint)
        return;
    if (endpoint->kind == Kinds::TcpServer) {
        if (auto *server = qobject_cast<TcpServer *>(endpoint->transport)) {
            try {
                server->Open();
                SetStateIndex(endpoint->node, ImgListening);
                endpoint->state = 1;
                // Port 0 (or a box that wrapped to it) listens anew on
                // whatever port the system picks this time.
                if (const int bound = server->Connection()->QueryLocalPort(); bound > 0) {
                    endpoint->localPort = bound;
                    endpoint->node->setText(0, NodeText(endpoint->localAddress, bound));
                }
            } catch (const std::exception &) {
                ShowMessage(QStringLiteral("Socket端口已经被占用!"));
            }
        }
        RefreshStatus(*endpoint);
    }
    if (endpoint->kind == Kinds::TcpClient) {
        try {
            auto *client = qobject_cast<TcpClient *>(endpoint->transport);
            if (!client)
                return;
            client->Open();
            endpoint->localPort = client->Connection()->QueryLocalPort();
            RefreshStatus(*endpoint);
        } catch (const std::exception &) {
            ShowMessage(QStringLiteral("连接失败!"));
        }
    }
}

void DataWindow::stopEndpoint()
{
    // The window's own endpoint, whichever node the tree has selected.
    if (attachedEndpoint)
        emit stopRequested();
}

void DataWindow::readGroupDatagram()
{
    if (attachedEndpoint)
        GroupReceived(*attachedEndpoint);
}
