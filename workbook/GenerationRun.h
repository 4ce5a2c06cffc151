#pragma once
// "Start Creating Template": the fifteen lists become a filled workbook saved under a
// random name in the temporary folder, and a picture of its sheet that the preview
// window shows. Every statement is guarded and numbered; a failing one is reported
// and the run goes on, so it always reaches its end and clears the busy flag.

#include <QImage>
#include <QString>
#include <random>

namespace workbook {

// What the run needs of the two windows.
class RunWindows {
public:
    virtual ~RunWindows() = default;
    virtual bool &generatingFlag() = 0;              // Form1.mGenerating
    virtual int itemCount(int category) = 0;          // List1(i).ListCount
    virtual QString item(int category, int k) = 0;    // List1(i).List(k)
    virtual void setMousePointer(int value) = 0;      // Form1.MousePointer
    virtual void setPreviewPicture(const QImage &picture) = 0; // Form2.Picture1 (loads Form2)
    virtual void setPreviewWorkbook(const QString &path) = 0;  // Form2.mExcelFile
    virtual void showPreview() = 0;                   // Form2.Show
    virtual void hideMain() = 0;                      // Form1.Hide
};

// Draws "wendle" + eight digits from 1 to 9.
class NameDrawer {
public:
    NameDrawer();                                      // seeded once from the system's entropy
    explicit NameDrawer(std::mt19937::result_type seed);
    QString draw();

private:
    std::mt19937 m_engine;
};

void PushButton1_Click(RunWindows &windows, NameDrawer &names);

} // namespace workbook
