#include "preview/Form2.h"

#include "shell/AppIcon.h"
#include "shell/ErrorReport.h"
#include "shell/LookAndFeel.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/FileIdentity.h"
#include "preview/Export.h"
#include "platform/services/Dialogs.h"
#include "platform/excel/ExcelServer.h"
#include "platform/services/Paths.h"
#include "workbook/FileRoutines.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QPrinter>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

using automation::AutomationError;

namespace preview {

namespace {
constexpr int kClientWidth = 9840;
// The window's first 9390, and one more row of buttons below its last: 405 high, 120 apart.
constexpr int kClientHeight = 9915;
constexpr TwipsRect kBackRect{120, 8850, 4680, 405};
constexpr TwipsRect kSaveRect{4920, 8850, 4800, 405};
constexpr TwipsRect kPrintRect{120, 9375, 2280, 405};
constexpr TwipsRect kExportPdfRect{2520, 9375, 2280, 405};
constexpr TwipsRect kZoomLabelRect{8520, 9375, 1200, 405};
const QString kSaveTitle = QStringLiteral("Save File");
const QString kSaveFilter = QStringLiteral("Excel Files (*.xls)|*.xls|");
const QString kSaveOntoShownWorkbook =
    QStringLiteral("%1 is the temporary workbook this preview shows, which is deleted when you go back. "
                   "Please choose another name.");
const QString kExportTitle = QStringLiteral("Export PDF");
const QString kPdfFilter = QStringLiteral("PDF Files (*.pdf)|*.pdf|");
const QString kPdfExtension = QStringLiteral(".pdf");

// The settings the print had to replace, one a paragraph, after the message.
QString withNotes(const QString &message, const QStringList &notes)
{
    return notes.isEmpty() ? message : message + QStringLiteral("\r\n\r\n") + notes.join(QStringLiteral("\r\n"));
}

QRect twipsRect(const TwipsRect &r)
{
    return QRect(twipsToPixels(r.left), twipsToPixels(r.top), twipsToPixels(r.width), twipsToPixels(r.height));
}

// The copy reaches the disk under a temporary name beside the target and replaces it only
// when complete and checked, so a failed save (a full disk) leaves an existing file as it was.
void copyWorkbook(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        throw AutomationError(QStringLiteral("Could not read %1: %2").arg(from, source.errorString()));
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError)
        throw AutomationError(QStringLiteral("Could not read %1: %2").arg(from, source.errorString()));
    const files::WriteOutcome outcome = files::writeFileAtomically(to, bytes, documentOptions());
    if (!outcome.written())
        throw AutomationError(QStringLiteral("Could not save %1: %2").arg(to, outcome.reason));
}

// The overwrite question, naming the file that will be replaced when a link makes it
// another than the name chosen; vbYes when nothing is there. A target that may not be
// written (another user's link in a shared folder, a device, a read-only file) is refused
// before the question.
int askBeforeWriting(const QString &target)
{
    const files::TargetCheck check = files::checkTarget(target, documentOptions());
    if (!check.allowed())
        throw AutomationError(QStringLiteral("Could not save %1: %2").arg(target, check.refusal));
    if (!check.exists)
        return platform::vbYes;
    const QString named = check.file == QDir::cleanPath(target) ? target
                                                                : QStringLiteral("%1 (which %2 links to)").arg(check.file, target);
    return platform::MsgBox(QStringLiteral("Are you sure you wish to overwrite ") + named + QStringLiteral(" ?"), platform::vbYesNo);
}

// The top-left corner nearest to wanted that puts a frame of that size wholly inside area (its
// top-left part, when it is larger).
QPoint keptInside(QPoint wanted, QSize frame, const QRect &area)
{
    return QPoint(std::max(area.left(), std::min(wanted.x(), area.right() + 1 - frame.width())),
                  std::max(area.top(), std::min(wanted.y(), area.bottom() + 1 - frame.height())));
}
} // namespace

Form2::Form2(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    QFont f(QStringLiteral("Arial"), 9);
    f.setBold(true);
    setFont(f);
    shell::setBackColor(this, Qt::white);

    m_viewport = new ViewportWidget(this);
    m_viewport->setHandlerGuard([](const QString &location, const std::function<void()> &handler) {
        shell::Guard g(location);
        g.step(100, handler);
    });
    connect(m_viewport, &ViewportWidget::pointerReset, this, [this] { m_pointer.setValue(shell::vbDefault); });

    Frame1 = new QGroupBox(QStringLiteral("Zoom:"), this);
    Frame1->setGeometry(twipsRect(layout::kFrame1));
    shell::setBackColor(Frame1, Qt::white);
    PushButton1 = new shell::PushButton(QStringLiteral("Zoom In"), Frame1);
    PushButton1->setGeometry(twipsRect(layout::kPushButton1));
    PushButton2 = new shell::PushButton(QStringLiteral("Zoom Out"), Frame1);
    PushButton2->setGeometry(twipsRect(layout::kPushButton2));
    PushButton8 = new shell::PushButton(QStringLiteral("< Back"), this);
    PushButton8->setGeometry(twipsRect(kBackRect));
    PushButton6 = new shell::PushButton(QStringLiteral("Save Results To Excel File"), this);
    PushButton6->setGeometry(twipsRect(kSaveRect));
    PushButton9 = new shell::PushButton(QStringLiteral("Print..."), this);
    PushButton9->setGeometry(twipsRect(kPrintRect));
    PushButton10 = new shell::PushButton(QStringLiteral("Export PDF..."), this);
    PushButton10->setGeometry(twipsRect(kExportPdfRect));
    Label1 = new QLabel(this);
    Label1->setGeometry(twipsRect(kZoomLabelRect));
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const auto showZoom = [this](int percent) { Label1->setText(QStringLiteral("%1 %").arg(percent)); };
    showZoom(int(std::lround(m_viewport->viewport().zoom() * 100)));
    connect(m_viewport, &ViewportWidget::zoomChanged, this, showZoom);

    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
    connect(PushButton8, &QPushButton::clicked, this, [this] { PushButton8_Click(); });
    connect(PushButton9, &QPushButton::clicked, this, [this] { PushButton9_Click(); });
    connect(PushButton10, &QPushButton::clicked, this, [this] { PushButton10_Click(); });

    auto *back = new QAction(this);
    back->setShortcut(Qt::Key_Escape);
    back->setShortcutContext(Qt::WindowShortcut);
    connect(back, &QAction::triggered, this, [this] { PushButton8_Click(); });
    addAction(back);

    wireHoverPointer();
    wirePrintCommands();

    const QList<QWidget *> order{m_viewport->hScroll1(), m_viewport->vScroll1(), m_viewport->picture2(),
                                 m_viewport->picture1(), Frame1, m_viewport->zoomOri(),
                                 PushButton1, PushButton2, PushButton6, PushButton8, PushButton9, PushButton10};
    for (qsizetype k = 0; k + 1 < order.size(); ++k)
        QWidget::setTabOrder(order[k], order[k + 1]);
    nameForScreenReaders();
}

void Form2::nameForScreenReaders()
{
    // What each control does, as a screen reader says it; no two alike.
    PushButton1->setAccessibleName(QStringLiteral("Zoom in on the picture"));
    PushButton2->setAccessibleName(QStringLiteral("Zoom out of the picture"));
    PushButton6->setAccessibleName(QStringLiteral("Save the workbook to an Excel file"));
    PushButton8->setAccessibleName(QStringLiteral("Back to the lists"));
    PushButton9->setAccessibleName(QStringLiteral("Print the workbook"));
    PushButton10->setAccessibleName(QStringLiteral("Export the workbook as a PDF file"));
    Label1->setAccessibleName(QStringLiteral("Zoom factor"));
    m_viewport->picture1()->setAccessibleName(QStringLiteral("Picture of the workbook"));
    m_viewport->picture2()->setAccessibleName(QStringLiteral("View of the picture, drag to move it"));
    m_viewport->zoomOri()->setAccessibleName(QStringLiteral("Unscaled copy of the picture"));
    m_viewport->hScroll1()->setAccessibleName(QStringLiteral("Scroll the picture sideways"));
    m_viewport->vScroll1()->setAccessibleName(QStringLiteral("Scroll the picture up and down"));
}

void Form2::setVisible(bool visible)
{
    if (visible && !isVisible())
        placeOverMainWindow();
    QWidget::setVisible(visible);
}

void Form2::placeOverMainWindow()
{
    // The run shows this window before it hides the one it came from: that one is the other
    // window showing now.
    m_mainWindow = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w != this && w->isVisible() && w->windowType() == Qt::Window) {
            m_mainWindow = w;
            m_mainWindowAt = w->pos();
            break;
        }
    }
    QScreen *screen = m_mainWindow ? m_mainWindow->screen() : this->screen();
    if (!screen)
        return;
    // The frame around this window is known once it has been shown; until then the main
    // window's, which the same window manager drew, is the best guess.
    const QWidget *framed = frameGeometry() != geometry() || !m_mainWindow ? this : m_mainWindow.data();
    const QRect inner = framed->geometry(), outer = framed->frameGeometry();
    const QSize frame = outer.size() - inner.size();
    const QRect area = screen->availableGeometry();
    const QSize whole = size() + frame;
    // A window's position is its frame's.
    move(keptInside(area.topLeft() + QPoint((area.width() - whole.width()) / 2, (area.height() - whole.height()) / 2),
                    whole, area));
}

void Form2::wireHoverPointer()
{
    // The hand over the six buttons, the arrow over the background and the frame
    // "Zoom:". The picture area and the scroll bars have no handler and keep whatever
    // pointer the last one set; a move there with a button held stays with them rather
    // than reaching the background beneath.
    const QList<QWidget *> pictures{m_viewport->picture2(), m_viewport->picture1(), m_viewport->zoomOri()};
    for (QWidget *picture : pictures)
        shell::markPictureBox(picture);
    const QList<QWidget *> quiet{m_viewport->picture2(), m_viewport->hScroll1(), m_viewport->vScroll1()};
    for (QWidget *control : quiet)
        control->setAttribute(Qt::WA_NoMousePropagation);
    m_pointer.hoverOnMouseMove(static_cast<QWidget *>(this), shell::vbDefault);
    m_pointer.hoverOnMouseMove(Frame1, shell::vbDefault);
    for (shell::PushButton *button : {PushButton1, PushButton2, PushButton6, PushButton8, PushButton9, PushButton10})
        m_pointer.hoverOnMouseMove(button, shell::vbCustom);
}

void Form2::wirePrintCommands()
{
    mnuPrint = new QAction(QStringLiteral("&Print..."), this);
    mnuPrint->setShortcut(QKeySequence::Print);
    mnuExportPdf = new QAction(QStringLiteral("&Export PDF..."), this);
    mnuExportPdf->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    for (QAction *a : {mnuPrint, mnuExportPdf})
        a->setShortcutContext(Qt::WindowShortcut);
    // Ctrl+P / Ctrl+E anywhere in the window; the menu on the picture and around it.
    addAction(mnuPrint);
    addAction(mnuExportPdf);
    for (QWidget *picture : {static_cast<QWidget *>(m_viewport->picture1()), static_cast<QWidget *>(m_viewport->picture2())}) {
        picture->addAction(mnuPrint);
        picture->addAction(mnuExportPdf);
        picture->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
    connect(mnuPrint, &QAction::triggered, this, [this] { mnuPrint_Click(); });
    connect(mnuExportPdf, &QAction::triggered, this, [this] { mnuExportPdf_Click(); });
}

void Form2::Form_Load()
{
    shell::Guard g(u"Form2.Form_Load");
    g.step(100, [&] { shell::SetFormBackColors(this); });
    g.step(102, [&] { setWindowTitle(QStringLiteral("Pantrimo")); });
    g.step(104, [&] { setWindowIcon(shell::applicationIcon()); });
    const QString cursorFile = platform::joinPath(platform::programFolder(), shell::kHandCursorFile);
    if (g.test(106, [&] { return workbook::FileExists(cursorFile); }))
        g.step(108, [&] { m_pointer.setCustomCursor(shell::loadCursorFile(cursorFile)); });
    g.step(110, [&] { mFirstActivate = true; });
}

void Form2::setCapture(const QImage &picture) { m_viewport->setCapture(picture); }

void Form2::Form_Activate()
{
    shell::Guard g(u"Form2.Form_Activate");
    if (g.test(100, [&] { return mFirstActivate; }))
        g.step(102, [&] {
            // The built-in server's workbook can be drawn again at any zoom; any other
            // server's picture is only a bitmap.
            m_viewport->setSheetSource(platform::builtinExcelRegistered() ? mExcelFile : QString());
            m_viewport->initialise();
        });
    g.step(104, [&] { mFirstActivate = false; });
}

void Form2::PushButton1_Click() { m_viewport->zoomIn(); }
void Form2::PushButton2_Click() { m_viewport->zoomOut(); }

void Form2::PushButton8_Click()
{
    shell::Guard g(u"Form2.PushButton8_Click");
    g.step(102, [&] { workbook::RemoveRunWorkbook(mExcelFile); });
    g.step(104, [&] {
        emit backToLists();
        // Shown again, the main window stands where it stood, on its screen.
        if (m_mainWindow && m_mainWindow->isVisible() && m_mainWindow->screen())
            m_mainWindow->move(keptInside(m_mainWindowAt, m_mainWindow->frameGeometry().size(),
                                          m_mainWindow->screen()->availableGeometry()));
    });
    g.step(106, [&] { hide(); });
    g.step(108, [&] { mFirstActivate = true; });
}

void Form2::PushButton6_Click()
{
    shell::Guard g(u"Form2.PushButton6_Click");
    QString target;
    g.step(100, [&] { target = platform::dialogs().saveFileName(kSaveTitle, kSaveFilter); });
    if (!g.test(102, [&] { return target.isEmpty(); })) {
        // The workbook shown here is deleted on "< Back": a copy onto itself would be lost.
        if (g.test(102, [&] { return files::isSameFile(target, mExcelFile); })) {
            platform::MsgBox(kSaveOntoShownWorkbook.arg(target), platform::vbExclamation);
            return;
        }
        int answer = platform::vbNo;
        const int refusalsBefore = g.reports();
        g.step(106, [&] { answer = askBeforeWriting(target); });
        if (g.reports() != refusalsBefore)
            return;
        if (g.test(108, [&] { return answer == platform::vbYes; })) {
            const int reportsBefore = g.reports();
            g.step(110, [&] { copyWorkbook(mExcelFile, target); });
            // A failed copy was reported; "Done." would tell the user it worked.
            if (g.reports() != reportsBefore)
                return;
        }
    }
    g.step(112, [&] { platform::MsgBox(QStringLiteral("Done.")); });
}

void Form2::PushButton9_Click() { mnuPrint_Click(); }
void Form2::PushButton10_Click() { mnuExportPdf_Click(); }

void Form2::mnuPrint_Click()
{
    shell::Guard g(u"Form2.mnuPrint_Click");
    QPrinter printer(QPrinter::HighResolution);
    const int reportsBefore = g.reports();
    g.step(100, [&] { PreparePrinter(printer, mExcelFile); });
    // Without the workbook there is nothing to print: no dialog after the report.
    if (g.reports() != reportsBefore)
        return;
    bool chosen = false;
    g.step(102, [&] { chosen = platform::dialogs().choosePrinter(printer); });
    if (!chosen)
        return;
    QStringList notes;
    g.step(104, [&] { PrintWorkbook(printer, mExcelFile, &notes); });
    if (g.reports() == reportsBefore && !notes.isEmpty())
        g.step(106, [&] { platform::MsgBox(notes.join(QStringLiteral("\r\n"))); });
}

void Form2::mnuExportPdf_Click()
{
    shell::Guard g(u"Form2.mnuExportPdf_Click");
    QString target;
    g.step(100, [&] { target = platform::dialogs().saveFileName(kExportTitle, kPdfFilter); });
    if (g.test(102, [&] { return target.isEmpty(); }))
        return;
    g.step(104, [&] {
        if (QFileInfo(target).suffix().isEmpty())
            target += kPdfExtension;
    });
    // The workbook shown here is deleted on "< Back", and printing reads it: no PDF over it.
    if (g.test(106, [&] { return files::isSameFile(target, mExcelFile); })) {
        platform::MsgBox(kSaveOntoShownWorkbook.arg(target), platform::vbExclamation);
        return;
    }
    int answer = platform::vbNo;
    g.step(110, [&] { answer = askBeforeWriting(target); });
    if (answer != platform::vbYes)
        return;
    const int reportsBefore = g.reports();
    QStringList notes;
    g.step(112, [&] { ExportPdf(mExcelFile, target, &notes); });
    // A failed export was reported; the old file, if any, is as it was.
    if (g.reports() != reportsBefore)
        return;
    g.step(114, [&] { platform::MsgBox(withNotes(QStringLiteral("Done."), notes)); });
}

void Form2::Form_QueryUnload()
{
    shell::Guard g(u"Form2.Form_QueryUnload");
    g.step(100, [&] { workbook::RemoveRunWorkbook(mExcelFile); });
    g.step(102, [&] {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    });
}

void Form2::closeEvent(QCloseEvent *event)
{
    // Never refused. Closing here ends the program, so the lists are stored as when
    // the main window closes (Form_Unload follows in the listener).
    Form_QueryUnload();
    event->accept();
    emit closingProgram();
}

void Form2::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Without a window manager a shown window may never be activated; the first
    // showing counts as becoming active.
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            Form_Activate();
    });
}

bool Form2::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate && mFirstActivate)
        Form_Activate();
    return QWidget::event(event);
}

} // namespace preview
