#pragma once
// Drives the main window as a user would: select a kind node, fill in the
// creation dialog, press OK. Messages, error boxes and dialogs are recorded
// instead of shown.

#include "app/dialogs/newtcpclientdialog.h"
#include "app/dialogs/newtcpserverdialog.h"
#include "app/dialogs/newudpclientdialog.h"
#include "app/dialogs/newudpgroupdialog.h"
#include "app/dialogs/newudpserverdialog.h"
#include "app/mainwindow.h"
#include "core/errors.h"
#include "datawindow/datawindow.h"
#include "datawindow/repeatcountbox.h"
#include "datawindow/replyrulesdialog.h"
#include "datawindow/sendpanel.h"
#include "support/datawindow_parts.h"
#include "support/endpointviews.h"
#include "support/loopback.h"
#include "ui/endpointtree.h"
#include "ui/logview.h"
#include "ui/messages.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidgetItem>

#include <memory>

namespace endpoint_test {

// The endpoints of a kind the window holds, in list order.
inline QList<Endpoint *> endpointsOfKind(MainWindow &form, EndpointKind kind)
{
    QList<Endpoint *> found;
    for (Endpoint *endpoint : form.endpoints())
        if (endpoint->kind == kind)
            found << endpoint;
    return found;
}

class Harness {
public:
    Harness()
        : previous_(SetExceptionReporter([](const std::exception &e) { ShowException(e); }))
    {
        form = std::make_unique<MainWindow>();
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
    std::unique_ptr<MainWindow> form;

    // Presses "创建" with the node selected, answering the dialog with fill
    // (which sets the boxes) and then OK. Returns the endpoint now selected,
    // or nullptr when nothing new was made.
    template <typename Dialog> Endpoint *create(QTreeWidgetItem *selected, std::function<void(Dialog &)> fill)
    {
        const int before = form->endpoints().size();
        child<EndpointTree>(form, "tree")->setCurrentItem(selected);
        script.push([fill](QDialog &d) {
            auto &dialog = dynamic_cast<Dialog &>(d);
            fill(dialog);
            child<QPushButton>(dialog, "okButton")->click();
        });
        form->createForSelectedKind();
        script.steps.clear();
        if (form->endpoints().size() == before)
            return nullptr;
        return form->endpoints().at(form->endpoints().size() - 1);
    }

    Endpoint *tcpServer(int port)
    {
        return create<NewTcpServerDialog>(
            form->kindNode(EndpointKind::TcpServer), [port](NewTcpServerDialog &d) {
                child<QLineEdit>(d, "portEdit")->setText(QString::number(port));
            });
    }
    Endpoint *tcpClient(int port, const QString &address = QStringLiteral("127.0.0.1"))
    {
        return create<NewTcpClientDialog>(
            form->kindNode(EndpointKind::TcpClient), [=](NewTcpClientDialog &d) {
                child<QLineEdit>(d, "addressEdit")->setText(address);
                child<QLineEdit>(d, "portEdit")->setText(QString::number(port));
            });
    }
    Endpoint *udpClient(int remotePort, int localPort, const QString &address = QStringLiteral("127.0.0.1"))
    {
        return create<NewUdpClientDialog>(
            form->kindNode(EndpointKind::UdpClient), [=](NewUdpClientDialog &d) {
                child<QLineEdit>(d, "addressEdit")->setText(address);
                child<QLineEdit>(d, "remotePortEdit")->setText(QString::number(remotePort));
                child<QLineEdit>(d, "localPortEdit")->setText(QString::number(localPort));
            });
    }
    Endpoint *udpServer(int localPort)
    {
        return create<NewUdpServerDialog>(
            form->kindNode(EndpointKind::UdpServer), [=](NewUdpServerDialog &d) {
                child<QLineEdit>(d, "localPortEdit")->setText(QString::number(localPort));
            });
    }
    Endpoint *udpGroup(const QString &group, int port)
    {
        return create<NewUdpGroupDialog>(form->kindNode(EndpointKind::UdpGroup), [=](NewUdpGroupDialog &d) {
            child<QLineEdit>(d, "groupAddressEdit")->setText(group);
            child<QLineEdit>(d, "groupPortEdit")->setText(QString::number(port));
        });
    }

    // A TCP Client endpoint connected to a listener of the test's own, and
    // the far end of its connection.
    struct ConnectedClient {
        loopback_test::Fd listener;
        Endpoint *endpoint = nullptr;
        loopback_test::Fd peer;
    };
    ConnectedClient connectedTcpClient();

    [[nodiscard]] bool listed(const Endpoint *endpoint) const { return form->endpoints().contains(endpoint); }

    // The endpoints of a kind, in list order.
    [[nodiscard]] QList<Endpoint *> endpoints(EndpointKind kind) const
    {
        return endpointsOfKind(*form, kind);
    }

    static QString log(Endpoint *endpoint)
    {
        windowOf(endpoint)->flushLog();
        return child<LogView>(windowOf(endpoint), "log")->toPlainText();
    }

private:
    ExceptionReporter previous_;
};

// The peers a server has accepted and not yet lost.
inline int peerCount(Endpoint *server)
{
    return nodeOf(server)->childCount();
}

// Fills a window's send box, repeat count and pause as a user types them.
inline void fillSendBox(
    Endpoint *endpoint, const QString &text, const QString &count, const QString &interval)
{
    DataWindow *w = windowOf(endpoint);
    child<SendEdit>(w, "sendEdit")->setPlainText(text);
    child<RepeatCountBox>(w, "repeatCountBox")->setEditText(count);
    child<QLineEdit>(w, "intervalEdit")->setText(interval);
}

// Gives the window these automatic reply rules through its rules button
// and switches automatic replies on, as a user does.
inline void answerBy(Harness &h, Endpoint *endpoint, const std::vector<ReplyRule> &rules)
{
    h.script.push([rules](QDialog &dialog) {
        qobject_cast<ReplyRulesDialog *>(&dialog)->setRules(rules);
        dialog.done(ReplyRulesDialog::Accepted);
    });
    child<QPushButton>(windowOf(endpoint), "replyRulesButton")->click();
    child<QCheckBox>(windowOf(endpoint), "autoReplySwitch")->click();
}

// Accepts the next peer while the event loop keeps running (the program
// connects only once its host lookup has come back through the loop).
inline loopback_test::Fd acceptServing(int listener, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        loopback_test::Fd peer = loopback_test::acceptWithin(listener, 0);
        if (peer.get() >= 0)
            return peer;
        QTest::qWait(5);
    }
    return loopback_test::Fd();
}

inline Harness::ConnectedClient Harness::connectedTcpClient()
{
    ConnectedClient c;
    c.listener = loopback_test::listenOnLoopback();
    c.endpoint = tcpClient(loopback_test::localPort(c.listener.get()));
    windowOf(c.endpoint)->requestStart();
    c.peer = acceptServing(c.listener.get());
    // The caller checks the state; a connect that never came shows there.
    (void)QTest::qWaitFor([&] { return c.endpoint->state == EndpointState::Connected; }, 5000);
    return c;
}

// Set by tests/netns-run inside a private network namespace.
inline bool insideNamespace()
{
    return qEnvironmentVariable("PW_NETNS") == QLatin1String("1");
}

} // namespace endpoint_test
