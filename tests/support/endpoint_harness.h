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
        form->createDialogs();
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
        const int before = form->endpoints().Count();
        form->tree->setCurrentItem(selected);
        script.push([fill](QDialog &d) {
            auto &dialog = dynamic_cast<Dialog &>(d);
            fill(dialog);
            dialog.okButton->click();
        });
        form->createForSelectedKind();
        script.steps.clear();
        if (form->endpoints().Count() == before)
            return nullptr;
        return form->endpoints().Items(form->endpoints().Count() - 1);
    }

    TMySocket *tcpServer(int port)
    {
        return create<TfrmNewServerSock>(form->kindNode(Kinds::TcpServer),
            [port](TfrmNewServerSock &d) { d.portEdit->setText(QString::number(port)); });
    }
    TMySocket *tcpClient(int port, const QString &address = QStringLiteral("127.0.0.1"))
    {
        return create<TfrmNewClientSock>(form->kindNode(Kinds::TcpClient), [=](TfrmNewClientSock &d) {
            d.addressEdit->setText(address);
            d.portEdit->setText(QString::number(port));
        });
    }
    TMySocket *udpClient(int remotePort, int localPort, const QString &address = QStringLiteral("127.0.0.1"))
    {
        return create<TfrmNewUdpSock>(form->kindNode(Kinds::UdpClient), [=](TfrmNewUdpSock &d) {
            d.addressEdit->setText(address);
            d.remotePortEdit->setText(QString::number(remotePort));
            d.localPortEdit->setText(QString::number(localPort));
        });
    }
    TMySocket *udpServer(int localPort)
    {
        return create<TfrmNewUDPServer>(form->kindNode(Kinds::UdpServer),
            [=](TfrmNewUDPServer &d) { d.localPortEdit->setText(QString::number(localPort)); });
    }
    TMySocket *udpGroup(const QString &group, int port)
    {
        return create<TfrmNewGroupSock>(form->kindNode(Kinds::UdpGroup), [=](TfrmNewGroupSock &d) {
            d.groupAddressEdit->setText(group);
            d.groupPortEdit->setText(QString::number(port));
        });
    }

    [[nodiscard]] bool listed(const TMySocket *endpoint) const
    {
        return form->endpoints().Contains(endpoint);
    }

    // The endpoints of a kind, in list order.
    [[nodiscard]] QList<TMySocket *> endpoints(const QString &kind) const
    {
        QList<TMySocket *> found;
        for (int i = 0; i < form->endpoints().Count(); ++i)
            if (form->endpoints().Items(i)->Kind == kind)
                found << form->endpoints().Items(i);
        return found;
    }

    static QString log(TMySocket *endpoint)
    {
        endpoint->DataForm->flushLog();
        return endpoint->DataForm->logView->toPlainText();
    }

private:
    ExceptionReporter previous_;
};

} // namespace endpoint_test
