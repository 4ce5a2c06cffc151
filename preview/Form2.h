#pragma once
// The preview window: the generation run's picture in a zoomable, scrollable,
// draggable viewport (ViewportWidget), and the way out: save the temporary workbook
// under a name of the user's choice, go back to the lists, or close the program.
//
// Print... (Ctrl+P) and Export PDF... (Ctrl+E), as push buttons in a row below the others
// (also on the keys and in the picture's context menu), read the temporary workbook itself with
// the workbook engine (preview/Export), so the pages are the sheet's whichever spreadsheet
// server made it. Beside them a label shows the zoom factor; Esc is "< Back".
//
// Each showing places the window centred on the screen of the window the run came from (the
// main window, still showing then), wholly on that screen's free area; "< Back" puts the
// main window back where it was, on its screen.
//
// The generation run hands over the picture (setCapture, which loads the window) and
// the temporary workbook's path (mExcelFile), then shows this window and hides the main
// one. From then on the temporary workbook belongs to this window: "< Back" and closing
// delete it.

#include "shell/PushButton.h"
#include "shell/WindowPointer.h"
#include "preview/ViewportWidget.h"

#include <QPointer>
#include <QWidget>

class QAction;
class QGroupBox;
class QLabel;

namespace preview {

class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);

    void setVisible(bool visible) override;

    // Colours, caption, icon, hand pointer; the viewport initialises at the next activation.
    void Form_Load();
    void Form_Activate();

    void PushButton1_Click(); // Zoom In
    void PushButton2_Click(); // Zoom Out
    void PushButton6_Click(); // Save Results To Excel File
    void PushButton8_Click(); // < Back
    // The picture's context menu, and Ctrl+P / Ctrl+E anywhere in the window.
    void mnuPrint_Click();     // Print...
    void mnuExportPdf_Click(); // Export PDF...
    void PushButton9_Click();  // Print...
    void PushButton10_Click(); // Export PDF...

    // The run's picture, assigned to Picture1.
    void setCapture(const QImage &picture);

    ViewportWidget &viewport() { return *m_viewport; }
    shell::WindowPointer &mousePointer() { return m_pointer; }

    // Full path of the temporary workbook, written by the generation run.
    QString mExcelFile;

    QGroupBox *Frame1 = nullptr;
    shell::PushButton *PushButton1 = nullptr;
    shell::PushButton *PushButton2 = nullptr;
    shell::PushButton *PushButton6 = nullptr;
    shell::PushButton *PushButton8 = nullptr;
    shell::PushButton *PushButton9 = nullptr;
    shell::PushButton *PushButton10 = nullptr;
    QLabel *Label1 = nullptr; // the zoom factor, "125 %"
    QAction *mnuPrint = nullptr;
    QAction *mnuExportPdf = nullptr;

signals:
    // "< Back": the main window is to be shown again.
    void backToLists();
    // Closing this window ends the program: the lists are to be stored first.
    void closingProgram();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    void Form_QueryUnload();
    void wireHoverPointer();
    void wirePrintCommands();
    void nameForScreenReaders();
    // Centred on the screen of the window the run came from, wholly on its free area.
    void placeOverMainWindow();

    QPointer<QWidget> m_mainWindow; // the window this one was shown over
    QPoint m_mainWindowAt;          // and where its frame stood then

    ViewportWidget *m_viewport = nullptr;
    shell::WindowPointer m_pointer{this};
    bool mFirstActivate = false;
};

} // namespace preview
