#pragma once
// The main window: the strip of commands, the endpoint tree, the document area
// with the data windows, and the information panel that covers it while no
// endpoint exists. It owns the endpoint list. The window wires; parsing,
// sending and formatting live elsewhere. UI thread only.

#include "app/endpoint.h"

#include <QMainWindow>

#include <memory>

class QApplication;
class QPushButton;
class QSplitter;
class QStackedLayout;
class QStatusBar;
class QTreeWidgetItem;
class DocumentArea;
class EndpointTree;
class DataWindow;
class InfoPanel;
class NewTcpClientDialog;
class NewUdpGroupDialog;
class NewTcpServerDialog;
class NewUdpServerDialog;
class NewUdpClientDialog;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    QWidget *commandStrip;
    QWidget *banner;
    QPushButton *createButton, *deleteButton, *exitButton, *startButton, *stopButton;
    QWidget *treePanel;
    EndpointTree *tree;
    QSplitter *splitter;
    InfoPanel *infoPanel;
    DocumentArea *documents; // where the data windows live
    QStatusBar *statusBar;

    // The creation dialogs, made hidden at start and kept for the program's
    // life so that what was typed stays for the next use.
    NewTcpServerDialog *newTcpServerDialog = nullptr;
    NewTcpClientDialog *newTcpClientDialog = nullptr;
    NewUdpClientDialog *newUdpClientDialog = nullptr;
    NewUdpGroupDialog *newUdpGroupDialog = nullptr;
    NewUdpServerDialog *newUdpServerDialog = nullptr;
    void createDialogs();

    [[nodiscard]] EndpointList &endpoints() { return *endpoints_; }
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
    Endpoint *createTcpServer(int port);
    Endpoint *createTcpClient(const QString &address, int port);
    Endpoint *createUdpClient(const QString &address, int remotePort, int localPort);
    Endpoint *createUdpServer(int localPort);
    Endpoint *createUdpGroup(const QString &groupIP, int groupPort);
    // A data window for the endpoint, in front of the documents.
    DataWindow *makeWindow(Endpoint &endpoint);

    // Delete and stop act on the selected node's endpoint.
    void deleteSelected();
    void stopSelected();
    void stopEndpoint(Endpoint &endpoint);
    // Frees the endpoint's transport, window, node and record. A server's
    // peers are removed first. Safe to call from the endpoint's own handlers:
    // what is running is destroyed only once control is back in the loop.
    void removeEndpoint(Endpoint *endpoint);

    // Adds the node of a new endpoint under its kind's node, selects it,
    // refreshes the status panel and hands the record to the endpoint list.
    Endpoint *attach(std::unique_ptr<Endpoint> record, const QString &text, int stateImage);

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

    std::unique_ptr<EndpointList> endpoints_;
    QStackedLayout *documentStack_ = nullptr;
};

// Unbinds the endpoint's handlers from its own transport (an accepted
// connection's handlers belong to its server and are left alone).
void SilenceTransport(Endpoint &endpoint);
// Silences and closes the endpoint's own transport (and a group's socket) and
// hands it to the caller to free; nullptr for an accepted connection.
[[nodiscard]] QObject *ReleaseTransport(Endpoint &endpoint);

// Everything the program does before its message loop: the main window
// (shown) and the creation dialogs (hidden).
[[nodiscard]] std::unique_ptr<MainWindow> StartPortwright();

// Starts the program and runs its message loop.
int RunPortwright(QApplication &app);
