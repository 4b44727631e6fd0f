#include "app/mainwindow.h"
#include "core/boundedregex.h"
#include "datawindow/datawindow.h"
#include "endpoints/endpointcontroller.h"
#include "endpoints/workspacesetup.h"
#include "session/endpointsession.h"
#include "session/workspacefile.h"
#include "support/contextmenu.h"
#include "support/datawindow_parts.h"
#include "support/endpointviews.h"
#include "support/replyrule.h"
#include "ui/endpointtree.h"
#include "ui/messages.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// One of each kind a workspace keeps, set up as a user would leave them:
// a server answering by a rule and with the web reply on, a UDP client
// sending on a timer, a group, and a TCP client linked to the server.
void setUpEndpoints(MainWindow &form)
{
    EndpointController &controller = form.controller();
    Endpoint *server = controller.createTcpServer(0);
    QVERIFY(server);
    QString unsavedTo;
    QVERIFY(server->session->acceptReplyRules({rule(MatchType::StartsWith, "GET", "pong")}, &unsavedTo));
    controller.setWebReplyOn(*server, true);

    Endpoint *udp = controller.createUdpClient(QStringLiteral("127.0.0.1"), 9, 0);
    QVERIFY(udp);
    SessionSetup setup;
    setup.sendText = QStringLiteral("01 02 0A");
    setup.hexMode = true;
    setup.repeatCount = QStringLiteral("3");
    setup.interval = QStringLiteral("250");
    setup.timedSending = true;
    udp->session->setSetup(setup);

    // Without a multicast route the join fails and says so; the group is
    // listed all the same.
    QVERIFY(controller.createUdpGroup(QStringLiteral("224.1.1.1"), 0));

    Endpoint *client = controller.createTcpClient(QStringLiteral("127.0.0.1"), server->localPort);
    QVERIFY(client);
    controller.start(*client);
    controller.link(*client, *server);
    form.showInfoPanel(false);
}

EndpointTree &treeOf(MainWindow &form)
{
    return *child<EndpointTree>(form, "tree");
}

Endpoint *endpointOfKind(MainWindow &form, EndpointKind kind)
{
    for (Endpoint *endpoint : form.endpoints())
        if (endpoint->kind == kind)
            return endpoint;
    return nullptr;
}

// The endpoints the user made; an accepted peer comes whenever its
// connection does.
std::vector<Endpoint *> listed(MainWindow &form)
{
    std::vector<Endpoint *> made;
    for (Endpoint *endpoint : form.endpoints())
        if (endpoint->kind != EndpointKind::TcpAcceptedPeer)
            made.push_back(endpoint);
    return made;
}

} // namespace

class TstWorkspaceWindow : public QObject {
    Q_OBJECT

private slots:
    // Saved through the tree's menu and opened by Ctrl+O in a fresh window: the same
    // endpoints come back with their setups, rules, switch and link, and
    // the windows show what was set.
    void savedWorkspaceOpensInAFreshWindow()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("lab.portwright"));
        MessageRecorder recorder;
        FileChoiceScript files;
        Workspace saved;
        {
            MainWindow form;
            form.show();
            setUpEndpoints(form);
            saved = workspaceOf(form.controller());
            QCOMPARE(int(saved.endpoints.size()), 4);
            QCOMPARE(int(saved.links.size()), 1);

            QVERIFY(contextMenuTexts(treeOf(form)).contains(QStringLiteral("保存工作区...")));
            files.answers.push_back(path);
            chooseFromContextMenu(treeOf(form), QStringLiteral("保存工作区..."));
            QVERIFY(QFile::exists(path));
            QCOMPARE(files.kinds.back(), FileDialogKind::Save);
            QVERIFY(files.asked.back().endsWith(QStringLiteral(".portwright")));
        }

        MainWindow fresh;
        fresh.show();
        // The keyboard reaches the command too.
        QApplication::setActiveWindow(&fresh);
        QVERIFY(QTest::qWaitForWindowActive(&fresh));
        treeOf(fresh).setFocus();
        files.answers.push_back(path);
        QTest::keyClick(&treeOf(fresh), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(files.kinds.size(), size_t(2));
        QCOMPARE(files.kinds.back(), FileDialogKind::Open);
        QTRY_COMPARE(workspaceOf(fresh.controller()), saved);
        QVERIFY(!fresh.isInfoPanelShown());

        DataWindow *udpWindow = windowOf(endpointOfKind(fresh, EndpointKind::UdpClient));
        QVERIFY(udpWindow);
        QVERIFY(child<QCheckBox>(udpWindow, "hexSwitch")->isChecked());
        QCOMPARE(child<QLineEdit>(udpWindow, "intervalEdit")->text(), QStringLiteral("250"));
        QVERIFY(timedSendingTimer(udpWindow)->isActive());
    }

    // Opening over endpoints asks first: No keeps every endpoint as it was;
    // Yes replaces them, and the same file opened in place takes its ports
    // again although the endpoints it replaces held them a moment before.
    void openingOverEndpointsAsksFirst()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("lab.portwright"));
        MessageRecorder recorder;
        FileChoiceScript files;
        ModalScript script;
        MainWindow form;
        form.show();
        setUpEndpoints(form);
        // What making them told the user (the group's join where there is no
        // multicast route) but the link made by hand.
        QStringList toldOnMaking = recorder.messages;
        toldOnMaking.removeAll(QStringLiteral("监听管道已经建立!"));
        const Workspace before = workspaceOf(form.controller());
        QString error;
        QVERIFY(saveWorkspaceFile(path, before, &error));
        // Changed since it was saved: what the file brings back shows.
        Endpoint *udp = endpointOfKind(form, EndpointKind::UdpClient);
        SessionSetup edited = udp->session->setup();
        edited.sendText = QStringLiteral("FF");
        udp->session->setSetup(edited);
        const Workspace current = workspaceOf(form.controller());
        QVERIFY(current != before);
        const std::vector<Endpoint *> old = listed(form);

        QString question;
        script.push([&](QDialog &d) {
            auto &box = static_cast<QMessageBox &>(d);
            question = box.text();
            box.button(QMessageBox::No)->click();
        });
        files.answers.push_back(path);
        chooseFromContextMenu(treeOf(form), QStringLiteral("打开工作区..."));
        QTRY_VERIFY(!question.isEmpty());
        QCOMPARE(question, QStringLiteral("打开工作区将关闭现有的全部端点，是否继续？"));
        QCoreApplication::processEvents();
        QCOMPARE(listed(form), old);
        QCOMPARE(workspaceOf(form.controller()), current);

        recorder.clear();
        bool asked = false;
        script.push([&](QDialog &d) {
            asked = true;
            static_cast<QMessageBox &>(d).button(QMessageBox::Yes)->click();
        });
        form.openWorkspaceFile(path);
        QTRY_VERIFY(asked);
        QTRY_COMPARE(workspaceOf(form.controller()), before);
        // Nothing more: no port was still taken.
        QCOMPARE(recorder.messages, toldOnMaking);
    }

    // The rules are compiled once, while the file is checked off the
    // window's thread: opening them compiles nothing there.
    void openedRulesAreCompiledOnceAndNotOnTheWindowsThread()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rules.portwright"));
        Workspace workspace;
        workspace.endpoints.resize(1);
        WorkspaceEndpoint &udp = workspace.endpoints[0];
        udp.kind = EndpointKind::UdpServer;
        udp.setup.autoReply = true;
        for (const char *digits : {"\\d", "\\d+", "(\\d+)$"})
            udp.rules.push_back(
                rule(MatchType::Regex, QStringLiteral("^id=") + QLatin1String(digits), "got \\0"));
        QString error;
        QVERIFY2(saveWorkspaceFile(path, workspace, &error), qPrintable(error));
        MainWindow form;
        const quint64 before = RegexCode::compilations();
        const quint64 beforeHere = RegexCode::compilationsOnThisThread();
        form.openWorkspaceFile(path);
        QTRY_VERIFY(endpointOfKind(form, EndpointKind::UdpServer));
        EndpointSession *session = endpointOfKind(form, EndpointKind::UdpServer)->session;
        QCOMPARE(session->autoReplyTo("id=7"), QByteArray("got id=7"));
        QCOMPARE(RegexCode::compilations() - before, quint64(3));
        QCOMPARE(RegexCode::compilationsOnThisThread() - beforeHere, quint64(0));
    }

    // A workspace's rules are its endpoint's alone: another endpoint of the
    // same kind and port keeps answering by the user's kept rules, and
    // accepting those does not write the workspace's into the settings.
    void workspaceRulesStayWithTheirEndpoint()
    {
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        EndpointController controller;
        const ReplyRule own = rule(MatchType::Contains, "x", "user");
        Endpoint *before = controller.createUdpClient(QStringLiteral("127.0.0.1"), 9, 0);
        QString unsavedTo;
        QVERIFY(before->session->acceptReplyRules({own}, &unsavedTo));
        Workspace workspace;
        workspace.endpoints.resize(1);
        workspace.endpoints[0].kind = EndpointKind::UdpClient;
        workspace.endpoints[0].address = QStringLiteral("127.0.0.1");
        workspace.endpoints[0].port = 9;
        workspace.endpoints[0].rules = {rule(MatchType::Contains, "x", "workspace")};
        Endpoint *opened = openWorkspace(controller, workspace).front().endpoint;
        Endpoint *after = controller.createUdpClient(QStringLiteral("127.0.0.1"), 9, 0);
        QCOMPARE(before->session->replyRules(), std::vector<ReplyRule>{own});
        QCOMPARE(after->session->replyRules(), std::vector<ReplyRule>{own});
        QVERIFY(after->session->acceptReplyRules(after->session->replyRules(), &unsavedTo));
        QCOMPARE(opened->session->replyRules(), workspace.endpoints[0].rules);
        QSettings settings(QStringLiteral("Portwright"), QStringLiteral("portwright"));
        QCOMPARE(loadRules(settings, QStringLiteral("replyRules/UDP Client/9")), std::vector<ReplyRule>{own});
    }

    // "The system picks" is saved as asked, not as the port picked this time.
    void portZeroIsSavedAsAsked()
    {
        EndpointController controller;
        QVERIFY(controller.createTcpServer(0)->localPort > 0);
        QVERIFY(controller.createUdpServer(0, QString())->localPort > 0);
        QVERIFY(controller.createUdpClient(QStringLiteral("127.0.0.1"), 9, 0)->localPort > 0);
        const Workspace saved = workspaceOf(controller);
        QCOMPARE(saved.endpoints[0].port, 0);
        QCOMPARE(saved.endpoints[1].port, 0);
        QCOMPARE(saved.endpoints[2].localPort, 0);
    }

    // A file that is not JSON: one message naming it, and the endpoints stay.
    void malformedFileChangesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("broken.portwright"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"format\": 1, \"endpoints\": [");
        file.close();
        MessageRecorder recorder;
        FileChoiceScript files;
        ModalScript script;
        MainWindow form;
        form.show();
        setUpEndpoints(form);
        const Workspace before = workspaceOf(form.controller());
        const std::vector<Endpoint *> old = listed(form);
        recorder.clear();

        files.answers.push_back(path);
        chooseFromContextMenu(treeOf(form), QStringLiteral("打开工作区..."));
        QTRY_COMPARE(recorder.messages.size(), 1);
        QVERIFY2(recorder.messages.front().contains(path), qPrintable(recorder.messages.front()));
        QCOMPARE(script.unfinished, 0); // nothing asked
        QCOMPARE(listed(form), old);
        QCOMPARE(workspaceOf(form.controller()), before);
    }
};

QTEST_MAIN(TstWorkspaceWindow)
#include "tst_workspacewindow.moc"
