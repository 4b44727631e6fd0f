// The data window's ties to its endpoint's transport: the start and stop
// buttons, the serial port's settings, and the group socket's read message.

#include "app/Unit1.h"
#include "app/mysocket.h"
#include "app/refreshstatus.h"
#include "app/tcpevents.h"
#include "app/udpevents.h"
#include "core/errors.h"
#include "datapanel/datapanel.h"
#include "net/serial/serialport.h"
#include "net/tcp/tcpsocket.h"
#include "net/udp/datagramcalls.h"
#include "ui/messages.h"
#include "ui/stateimages.h"

#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidgetItem>

void TFrmData::configureSerialPort()
{
    XComm1 = new SerialPort(this);
    XComm1->SetDeviceName(QStringLiteral("COM1"));
    XComm1->SetBaudRate(br9600);
    XComm1->DataControl().SetDataBits(db8);
    XComm1->DataControl().SetParity(paNone);
    XComm1->DataControl().SetStopBits(sb1);
    XComm1->SetFlowControl(fcNone);
    XComm1->Buffers().SetInputSize(2048);
    XComm1->Buffers().SetOutputSize(2048);
    XComm1->Buffers().SetInputTimeout(500);
    XComm1->Buffers().SetOutputTimeout(500);
    XComm1->Timeouts().SetReadInterval(1);
    XComm1->Timeouts().SetReadMultiplier(0);
    XComm1->Timeouts().SetReadConstant(1);
    XComm1->Timeouts().SetWriteMultiplier(0);
    XComm1->Timeouts().SetWriteConstant(1);
    XComm1->EventChars().SetXonChar(17);
    XComm1->EventChars().SetXoffChar(19);
    XComm1->EventChars().SetEofChar(0);
    XComm1->EventChars().SetErrorChar(0);
    XComm1->EventChars().SetEventChar(10);
    XComm1->SetMonitorEvents(deChar | deFlag | deOutEmpty);
    XComm1->SetSynchronize(true);
    XComm1->OnData = [this](QObject *, int) { XComm1Data(); };
}

void TFrmData::connectHandlers()
{
    const auto guarded = [this](void (TFrmData::*handler)()) {
        return [this, handler] { Guarded([this, handler] { (this->*handler)(); }); };
    };
    connect(Button11, &QPushButton::clicked, this, guarded(&TFrmData::Button11Click));
    connect(Button2, &QPushButton::clicked, this, guarded(&TFrmData::Button2Click));
    connect(suiButton1, &QPushButton::clicked, this, guarded(&TFrmData::suiButton1Click));
    connect(suiButton2, &QPushButton::clicked, this, guarded(&TFrmData::suiButton2Click));
    connect(Button5, &QPushButton::clicked, this, guarded(&TFrmData::Button5Click));
    connect(Button6, &QPushButton::clicked, this, guarded(&TFrmData::Button6Click));
    connect(Timer1, &QTimer::timeout, this, guarded(&TFrmData::Timer1Timer));
    // Stopping follows the release of any mouse button on the stop button.
    Button6->installEventFilter(this);
}

void TFrmData::Button5Click()
{
    TMySocket *endpoint = Endpoint;
    if (!endpoint)
        return;
    if (endpoint->Kind == Kinds::TcpServer) {
        if (auto *server = qobject_cast<TcpServer *>(endpoint->Transport)) {
            try {
                server->Open();
                SetStateIndex(endpoint->Node, ImgListening);
                endpoint->State = 1;
                // Port 0 (or a box that wrapped to it) listens anew on
                // whatever port the system picks this time.
                if (const int bound = server->Connection()->QueryLocalPort(); bound > 0) {
                    endpoint->LocalPort = bound;
                    endpoint->Node->setText(0, NodeText(endpoint->LocalIP, bound));
                }
            } catch (const std::exception &) {
                ShowMessage(QStringLiteral("Socket端口已经被占用!"));
            }
        }
        RefreshStatus(*endpoint);
    }
    if (endpoint->Kind == Kinds::TcpClient) {
        try {
            auto *client = qobject_cast<TcpClient *>(endpoint->Transport);
            if (!client)
                return;
            client->Open();
            endpoint->LocalPort = client->Connection()->QueryLocalPort();
            RefreshStatus(*endpoint);
        } catch (const std::exception &) {
            ShowMessage(QStringLiteral("连接失败!"));
        }
    }
}

void TFrmData::Button6Click() { }

void TFrmData::Button6MouseUp()
{
    TMySocket *endpoint = Endpoint;
    if (!endpoint || !Form1)
        return;
    // The window's own endpoint, whichever node the tree has selected.
    if (endpoint->Kind == Kinds::TcpServer)
        StopServer(*endpoint);
    else if (endpoint->Kind == Kinds::TcpClient || endpoint->Kind == Kinds::TcpServerClient)
        Form1->StopEndpoint(*endpoint);
}

void TFrmData::WMGroupRead(long lParam)
{
    if (Endpoint)
        GroupReceived(*Endpoint, lParam);
}

bool TFrmData::event(QEvent *event)
{
    if (event->type() == winsock::TWinSockMessage::EventType()) {
        const auto *message = static_cast<winsock::TWinSockMessage *>(event);
        if (message->Msg == GroupReadMessage)
            Guarded([&] { WMGroupRead(message->LParam); });
        return true;
    }
    return QWidget::event(event);
}
