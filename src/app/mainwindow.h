#pragma once
// The main window: the strip of commands, the endpoint tree, the document area
// with the data windows, and the information panel that covers it while no
// endpoint exists. It owns the endpoint controller (and through it the
// endpoints) and the views that show them. The window wires; parsing,
// sending and formatting live elsewhere. UI thread only.

#include "app/dialogs/serialdevicebox.h"
#include "endpoints/endpoint.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class QApplication;
class QPushButton;
class QSplitter;
class QStackedLayout;
class QStatusBar;
class QTreeWidgetItem;
class DocumentArea;
class EndpointTree;
class DataWindow;
class EndpointController;
class EndpointViews;
class InfoPanel;
class WorkspaceFileReader;
struct Workspace;
class CreationDialog;
class NewTcpClientDialog;
class NewUdpGroupDialog;
class NewTcpServerDialog;
class NewUdpServerDialog;
class NewUdpClientDialog;
class NewSerialPortDialog;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Makes the creation dialogs once; they keep what was typed.
    void createDialogs();
    // What names the serial devices the serial port dialog offers: the
    // system's, unless a test describes a machine of its own.
    void setSerialDeviceLister(SerialDeviceLister lister) { serialDeviceLister_ = std::move(lister); }

    // What creates, removes and stops the endpoints shown here.
    [[nodiscard]] EndpointController &controller() { return *controller_; }
    // The endpoints' nodes and windows.
    [[nodiscard]] EndpointViews &views() { return *views_; }
    [[nodiscard]] EndpointList &endpoints();
    // The kind node with the given label.
    [[nodiscard]] QTreeWidgetItem *kindNode(EndpointKind kind) const;

    void showSelectedEndpoint(QTreeWidgetItem *node);
    [[nodiscard]] bool canLink(QTreeWidgetItem *dragged, QTreeWidgetItem *target) const;
    void linkDropped(QTreeWidgetItem *dragged, QTreeWidgetItem *target);
    void quit();
    void stopListeningServers();

    // Create: opens the selected kind's dialog and returns; that kind's
    // set-up follows when the dialog is answered with OK.
    void createForSelectedKind();

    // Delete and stop act on the selected node's endpoint.
    void deleteSelected();
    void stopSelected();

    // The workspace commands (the tree's menu, Ctrl+S and Ctrl+O): each asks
    // for a file and returns; saving or opening follows the choice.
    void askToSaveWorkspace();
    void askToOpenWorkspace();
    // Opens the workspace in the file as the open command does once the file
    // is chosen: returns at once, the file is read away from this thread, a
    // bad file is one message and changes nothing, and existing endpoints
    // are replaced only when the user agrees.
    void openWorkspaceFile(const QString &path);

    // The information panel covers the documents; data windows show only
    // while it is hidden.
    void showInfoPanel(bool show);
    [[nodiscard]] bool isInfoPanelShown() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *commandStrip_;
    QWidget *banner_;
    QPushButton *createButton_, *deleteButton_, *exitButton_;
    // The hidden start and stop commands of the strip.
    QPushButton *startCommandButton_, *stopCommandButton_;
    QWidget *treePanel_;
    EndpointTree *tree_;
    QSplitter *splitter_;
    InfoPanel *infoPanel_;
    DocumentArea *documents_; // where the data windows live
    QStatusBar *statusBar_;

    // The creation dialogs, made hidden at start and kept for the program's
    // life so that what was typed stays for the next use.
    NewTcpServerDialog *newTcpServerDialog_ = nullptr;
    NewTcpClientDialog *newTcpClientDialog_ = nullptr;
    NewUdpClientDialog *newUdpClientDialog_ = nullptr;
    NewUdpGroupDialog *newUdpGroupDialog_ = nullptr;
    NewUdpServerDialog *newUdpServerDialog_ = nullptr;
    NewSerialPortDialog *newSerialPortDialog_ = nullptr;
    SerialDeviceLister serialDeviceLister_;

    void buildStrip();
    void buildTree();
    void buildWorkspaceCommands();
    void replaceEndpointsWith(const Workspace &workspace);
    [[nodiscard]] QString suggestedWorkspacePath() const;
    void openCreationDialog(CreationDialog *dialog, std::function<void()> create);
    void showDocumentsIfAny();

    // The controller goes before its views (see the destructor).
    std::unique_ptr<EndpointController> controller_;
    std::unique_ptr<EndpointViews> views_;
    QStackedLayout *documentStack_ = nullptr;

    QAction *saveWorkspaceAction_ = nullptr;
    QAction *openWorkspaceAction_ = nullptr;
    WorkspaceFileReader *workspaceReader_ = nullptr; // a child of this window
    QString workspacePath_; // the last one saved or opened, offered next
};

// Everything the program does before its message loop: the main window
// (shown) and the creation dialogs (hidden).
[[nodiscard]] std::unique_ptr<MainWindow> StartPortwright();

// Starts the program and runs its message loop.
int RunPortwright(QApplication &app, const QString &workspace = QString());
