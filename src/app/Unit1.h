#pragma once
// The main window: the strip of commands, the endpoint tree, the document area
// with the data windows, and the information panel that covers it while no
// endpoint exists. It owns the endpoint list. The window wires; parsing,
// sending and formatting live elsewhere. UI thread only.

#include "app/mysocket.h"

#include <QMainWindow>

#include <memory>

class QApplication;
class QPushButton;
class QSplitter;
class QStackedLayout;
class QStatusBar;
class QTreeWidgetItem;
class TDocumentArea;
class TEndpointTree;
class TFrmData;
class TInfoPanel;
class TfrmNewClientSock;
class TfrmNewGroupSock;
class TfrmNewServerSock;
class TfrmNewUDPServer;
class TfrmNewUdpSock;

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    QWidget *commandStrip;
    QWidget *banner;
    QPushButton *createButton, *deleteButton, *exitButton, *startButton, *stopButton;
    QWidget *treePanel;
    TEndpointTree *tree;
    QSplitter *splitter;
    TInfoPanel *infoPanel;
    TDocumentArea *documents; // where the data windows live
    QStatusBar *statusBar;

    // The creation dialogs, made hidden at start and kept for the program's
    // life so that what was typed stays for the next use.
    TfrmNewServerSock *newTcpServerDialog = nullptr;
    TfrmNewClientSock *newTcpClientDialog = nullptr;
    TfrmNewUdpSock *newUdpClientDialog = nullptr;
    TfrmNewGroupSock *newUdpGroupDialog = nullptr;
    TfrmNewUDPServer *newUdpServerDialog = nullptr;
    void createDialogs();

    [[nodiscard]] TEndpointList &endpoints() { return *endpoints_; }
    // The kind node with the given label.
    [[nodiscard]] QTreeWidgetItem *kindNode(const QString &kind) const;

    void createEndpointList();
    void showSelectedEndpoint(QTreeWidgetItem *node);
    [[nodiscard]] bool canLink(QTreeWidgetItem *dragged, QTreeWidgetItem *target) const;
    void linkDropped(QTreeWidgetItem *dragged, QTreeWidgetItem *target);
    void quit();
    void stopListeningServers();

    // Create: the selected kind's dialog, then that kind's set-up.
    void createForSelectedKind();
    TMySocket *createTcpServer(int port);
    TMySocket *createTcpClient(const QString &address, int port);
    TMySocket *createUdpClient(const QString &address, int remotePort, int localPort);
    TMySocket *createUdpServer(int localPort);
    TMySocket *createUdpGroup(const QString &groupIP, int groupPort);
    // A data window for the endpoint, in front of the documents.
    TFrmData *makeWindow(TMySocket &endpoint);

    // Delete and stop act on the selected node's endpoint.
    void deleteSelected();
    void stopSelected();
    void stopEndpoint(TMySocket &endpoint);
    // Frees the endpoint's transport, window, node and record. A server's
    // peers are removed first. Safe to call from the endpoint's own handlers:
    // what is running is destroyed only once control is back in the loop.
    void removeEndpoint(TMySocket *endpoint);

    // Adds the node of a new endpoint under its kind's node, selects it,
    // refreshes the status panel and hands the record to the endpoint list.
    TMySocket *attach(std::unique_ptr<TMySocket> record, const QString &text, int stateImage);

    // The information panel covers the documents; data windows show only
    // while it is hidden.
    void showInfoPanel(bool show);
    [[nodiscard]] bool isInfoPanelShown() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildStrip();
    void buildTree();
    void selectNodeOfWindow(QWidget *window);
    // Stops timed sending and every repeat in every data window.
    void endAllSending();

    std::unique_ptr<TEndpointList> endpoints_;
    QStackedLayout *documentStack_ = nullptr;
};

// Unbinds the endpoint's handlers from its own transport (an accepted
// connection's handlers belong to its server and are left alone).
void SilenceTransport(TMySocket &endpoint);
// Silences and closes the endpoint's own transport (and a group's socket) and
// hands it to the caller to free; nullptr for an accepted connection.
[[nodiscard]] QObject *ReleaseTransport(TMySocket &endpoint);

// The program's main window, while it exists; handlers of the endpoints reach
// the tree and the endpoint list through it.
extern TForm1 *Form1;

// Everything the program does before its message loop: the main window
// (shown) and the creation dialogs (hidden).
[[nodiscard]] std::unique_ptr<TForm1> StartPortwright();

// Starts the program and runs its message loop.
int RunPortwright(QApplication &app);
