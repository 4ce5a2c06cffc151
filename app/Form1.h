#pragma once
// The main window, the program's start-up object.
//
// Pieces and how data flows between them:
//  - Form_Load first draws the window in the skin beside the program, when there is one
//    (LookAndFeel, through the skin control SkinFramework1), and loads the hand pointer.
//    Mouse moves over the buttons show the hand, over the background, frames and lists
//    the arrow (WindowPointer); the hourglass of a generation run stays meanwhile.
//  - Form1 (this window) holds the fifteen category frames. Each frame's list box
//    (List1) is the only store of that category's items while the program runs.
//  - Form_Load restores the lists from the settings store (lists/CategoryLists) and
//    last checks that a spreadsheet server can be created (IsInstalled).
//  - The editing buttons delegate to lists/ListCommands; they change the list boxes only.
//    Each edit that changed something is kept in lists/ListHistory for Undo (Ctrl+Z, and
//    the lists' context menu) and Redo (Ctrl+Shift+Z, Ctrl+Y), for this run only.
//  - "Start Creating Template" runs the generation run (workbook/), which reads the list
//    boxes, drives the spreadsheet server through late-bound automation, and hands its
//    picture and temporary workbook to the preview window (preview/), hiding this one.
//  - Closing this window writes the lists back to the settings store and ends the program.
// Every handler runs its statements through a shell::Guard, which reports a failing
// statement with its line number and goes on with the next one.

#include "shell/PushButton.h"
#include "shell/WindowPointer.h"
#include "platform/automation/AutomationObject.h"
#include "lists/CategoryLists.h"
#include "lists/ListHistory.h"
#include "workbook/GenerationRun.h"
#include "platform/facts/Twips.h"

#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QGroupBox;
class QGuiApplication;
class QLineEdit;
class QListWidget;
namespace preview {
class Form2;
}

namespace shell {

// Window lengths are designed in twips.
using facts::twipsToPixels;

class Form1 : public QWidget, private workbook::RunWindows {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // Runs the start-up steps. False when the program must end before the window is
    // ever shown (no spreadsheet server); nothing has been stored then.
    bool Form_Load();

    // Button handlers (the arrays pass the category index).
    void PushButton1_Click();
    void PushButton2_Click(int index);
    void PushButton3_Click(int index);
    void PushButton5_Click();
    void PushButton6_Click();
    // Take back the last edit of the lists, or make the last one taken back again.
    void Undo();
    void Redo();

    // Writes the lists; the close handler and a session shutdown both come here.
    void Form_QueryUnload();
    // A desktop session that ends asks the program to save before it may kill it.
    void storeListsWhenTheSessionEnds(QGuiApplication &app);

    WindowPointer &mousePointer() { return m_pointer; }

    // The preview window, loaded the first time anything of it is touched.
    preview::Form2 &form2();
    bool form2Loaded() const { return m_form2 != nullptr; }

    // Controls, named as the window was designed.
    QLineEdit *Text1 = nullptr;
    PushButton *PushButton1 = nullptr;
    PushButton *PushButton5 = nullptr;
    PushButton *PushButton6 = nullptr;
    std::array<QGroupBox *, lists::kCategoryCount> Frame1{};
    lists::ListBoxes List1{};
    std::array<PushButton *, lists::kCategoryCount> PushButton2{};
    std::array<PushButton *, lists::kCategoryCount> PushButton3{};
    // Undo and Redo, with their keys, on the window and on every list's context menu;
    // enabled while there is something to take back or make again.
    QAction *UndoAction = nullptr;
    QAction *RedoAction = nullptr;
    // The skin control; created when a skin is first applied.
    automation::ObjectRef SkinFramework1;

    // True while a generation run is in progress; a second click returns at once.
    bool mGenerating = false;

signals:
    // Form_Unload: the program ends; no other window runs its close handling.
    void programEnding();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void setTabOrder();
    void wireHoverPointer();
    void buildUndo();
    // Runs an editing command and keeps the lists as they were before it, if it changed
    // them. A command run by another (Load Sample clears first) is part of that one.
    void recordEdit(const std::function<void()> &command);
    void updateUndoActions();

    // What the generation run needs of the two windows.
    bool &generatingFlag() override { return mGenerating; }
    int itemCount(int category) override;
    QString item(int category, int k) override;
    void setMousePointer(int value) override { m_pointer.setValue(value); }
    void setPreviewPicture(const QImage &picture) override;
    void setPreviewWorkbook(const QString &path) override;
    void showPreview() override;
    void hideMain() override { hide(); }

    WindowPointer m_pointer{this};
    workbook::NameDrawer m_names;
    lists::ListHistory m_history;
    int m_editDepth = 0;
    bool m_closedDuringRun = false;
    std::unique_ptr<preview::Form2> m_form2;
};

} // namespace shell
