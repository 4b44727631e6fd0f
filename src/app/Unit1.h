#pragma once
// The main window: the strip of commands, the endpoint tree, the document area
// with the data windows, and the information panel that covers it while no
// endpoint exists. It owns the endpoint list. The window wires; parsing,
// sending and formatting live elsewhere. UI thread only.

#include "app/mysocket.h"

#include <QMainWindow>

#include <memory>

class QApplication;
class QMdiArea;
class QPushButton;
class QSplitter;
class QStackedLayout;
class QStatusBar;
class QTreeWidgetItem;
class TEndpointTree;
class TInfoPanel;

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    QWidget *Panel1;
    QWidget *suiImagePanel1;
    QPushButton *Button1, *Button2, *Button8, *Button5, *Button6;
    QWidget *Panel2;
    TEndpointTree *TreeView1;
    QSplitter *Splitter1;
    TInfoPanel *Panel3;
    QMdiArea *Documents; // where the data windows live
    QStatusBar *StatusBar1;

    [[nodiscard]] TEndpointList &EndpointList() { return *endpoints_; }
    // The kind node with the given label.
    [[nodiscard]] QTreeWidgetItem *KindNode(const QString &kind) const;

    void FormCreate();
    void TreeView1Change(QTreeWidgetItem *node);
    [[nodiscard]] bool TreeView1DragOver(QTreeWidgetItem *dragged, QTreeWidgetItem *target) const;
    void TreeView1DragDrop(QTreeWidgetItem *target);
    void Button8Click();
    void FormClose();

    // Adds the node of a new endpoint under the selected node, selects it,
    // refreshes the status panel and hands the record to the endpoint list.
    TMySocket *AttachEndpointNode(std::unique_ptr<TMySocket> record, const QString &text, int stateImage);

    // The information panel covers the documents; data windows show only
    // while it is hidden.
    void ShowInfoPanel(bool show);
    [[nodiscard]] bool InfoPanelShown() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildStrip();
    void buildTree();

    std::unique_ptr<TEndpointList> endpoints_;
    QStackedLayout *documentStack_ = nullptr;
};

// Everything the program does before its message loop: the main window
// (shown) and the creation dialogs (hidden).
[[nodiscard]] std::unique_ptr<TForm1> StartPortwright();

// Starts the program and runs its message loop.
int RunPortwright(QApplication &app);
