#pragma once
// Drives the main window as a user would: select a kind node, fill in the
// creation dialog, press OK. Messages, error boxes and dialogs are recorded
// instead of shown.

#include "app/Unit1.h"
#include "app/dialogs/newclientsock.h"
#include "app/dialogs/newgroupsock.h"
#include "app/dialogs/newserversock.h"
#include "app/dialogs/newudpserver.h"
#include "app/dialogs/newudpsock.h"
#include "app/endpointtree.h"
#include "core/errors.h"
#include "datapanel/datapanel.h"
#include "ui/messages.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidgetItem>

#include <memory>

namespace endpoint_test {

class Harness {
public:
    Harness()
        : previous_(SetExceptionReporter([](const std::exception &e) { ShowException(e); }))
    {
        form = std::make_unique<TForm1>();
        form->CreateDialogs();
    }
    ~Harness()
    {
        form.reset();
        SetExceptionReporter(previous_);
    }
    Harness(const Harness &) = delete;
    Harness &operator=(const Harness &) = delete;

    MessageRecorder recorder;
    ModalScript script;
    std::unique_ptr<TForm1> form;

    // Presses "创建" with the node selected, answering the dialog with fill
    // (which sets the boxes) and then OK. Returns the endpoint now selected,
    // or nullptr when nothing new was made.
    template <typename Dialog>
    TMySocket *create(QTreeWidgetItem *selected, std::function<void(Dialog &)> fill)
    {
        const int before = form->EndpointList().Count();
        form->TreeView1->setCurrentItem(selected);
        script.push([fill](QDialog &d) {
            auto &dialog = dynamic_cast<Dialog &>(d);
            fill(dialog);
            dialog.Button1->click();
        });
        form->Button1Click();
        script.steps.clear();
        if (form->EndpointList().Count() == before)
            return nullptr;
        return form->EndpointList().Items(form->EndpointList().Count() - 1);
    }

    TMySocket *tcpServer(int port)
    {
        return create<TfrmNewServerSock>(form->KindNode(Kinds::TcpServer),
            [port](TfrmNewServerSock &d) { d.Edit1->setText(QString::number(port)); });
    }
    TMySocket *tcpClient(int port, const QString &address = QStringLiteral("127.0.0.1"))
    {
        return create<TfrmNewClientSock>(form->KindNode(Kinds::TcpClient), [=](TfrmNewClientSock &d) {
            d.Edit1->setText(address);
            d.Edit2->setText(QString::number(port));
        });
    }
    TMySocket *udpClient(int remotePort, int localPort, const QString &address = QStringLiteral("127.0.0.1"))
    {
        return create<TfrmNewUdpSock>(form->KindNode(Kinds::UdpClient), [=](TfrmNewUdpSock &d) {
            d.Edit1->setText(address);
            d.Edit2->setText(QString::number(remotePort));
            d.Edit3->setText(QString::number(localPort));
        });
    }
    TMySocket *udpServer(int localPort)
    {
        return create<TfrmNewUDPServer>(form->KindNode(Kinds::UdpServer),
            [=](TfrmNewUDPServer &d) { d.Edit3->setText(QString::number(localPort)); });
    }
    TMySocket *udpGroup(const QString &group, int port)
    {
        return create<TfrmNewGroupSock>(form->KindNode(Kinds::UdpGroup), [=](TfrmNewGroupSock &d) {
            d.Edit1->setText(group);
            d.Edit2->setText(QString::number(port));
        });
    }

    [[nodiscard]] bool listed(const TMySocket *endpoint) const
    {
        return form->EndpointList().Contains(endpoint);
    }

    // The endpoints of a kind, in list order.
    [[nodiscard]] QList<TMySocket *> endpoints(const QString &kind) const
    {
        QList<TMySocket *> found;
        for (int i = 0; i < form->EndpointList().Count(); ++i)
            if (form->EndpointList().Items(i)->Kind == kind)
                found << form->EndpointList().Items(i);
        return found;
    }

    static QString log(TMySocket *endpoint)
    {
        endpoint->DataForm->FlushLog();
        return endpoint->DataForm->Memo2->toPlainText();
    }

private:
    ExceptionReporter previous_;
};

} // namespace endpoint_test
