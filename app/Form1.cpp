#include "app/Form1.h"

#include "shell/AppIcon.h"
#include "shell/AppTitle.h"
#include "shell/ErrorReport.h"
#include "shell/IsInstalled.h"
#include "shell/LookAndFeel.h"
#include "platform/automation/AutomationError.h"
#include "lists/ListCommands.h"
#include "preview/Form2.h"
#include "platform/services/Paths.h"
#include "workbook/FileRoutines.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QStyledItemDelegate>

namespace shell {

namespace {
constexpr int kClientWidth = 13320;
constexpr int kClientHeight = 8520;

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

// The list boxes and the text box keep the colours they were designed with when the
// window and frames are recoloured: the style draws their edges from the background
// colour, which they would otherwise take from the frame or window they sit on.
// An item is drawn from its first characters only: a list box shows a few dozen, and laying
// out all of a 10 MB item (a hand-edited settings file) to measure and elide it held the
// window for many seconds. The item itself is kept whole.
class ShortItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        constexpr qsizetype kShownCharacters = 1000;
        if (option->text.size() > kShownCharacters)
            option->text.truncate(kShownCharacters);
    }
};

void keepOwnColours(QWidget *w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, Qt::white);
    w->setPalette(p);
}
} // namespace

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    QFont f(QStringLiteral("Arial"), 9);
    f.setBold(true);
    setFont(f);
    shell::setBackColor(this, Qt::white);
    buildControls();
    setTabOrder();
    wireHoverPointer();
    buildUndo();
}

void Form1::buildControls()
{
    Text1 = new QLineEdit(QStringLiteral("Text1"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twipsRect(4680, 8800, 1215, 525));
    keepOwnColours(Text1);

    PushButton1 = new PushButton(QStringLiteral("Start Creating Template"), this);
    PushButton1->setGeometry(twipsRect(120, 120, 13080, 405));
    PushButton5 = new PushButton(QStringLiteral("Clear/Reset Data"), this);
    PushButton5->setGeometry(twipsRect(120, 630, 6480, 405));
    PushButton6 = new PushButton(QStringLiteral("Load Sample/Example Data"), this);
    PushButton6->setGeometry(twipsRect(6720, 630, 6480, 405));
    PushButton1->setObjectName(QStringLiteral("PushButton1"));
    PushButton5->setObjectName(QStringLiteral("PushButton5"));
    PushButton6->setObjectName(QStringLiteral("PushButton6"));
    // What a screen reader says for each control: the buttons' captions alone would be fifteen
    // identical "Add"s and "Delete"s.
    PushButton1->setAccessibleName(QStringLiteral("Create the workbook from the lists and show its preview"));
    PushButton5->setAccessibleName(QStringLiteral("Clear all lists"));
    PushButton6->setAccessibleName(QStringLiteral("Replace all lists with the sample list"));
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });

    for (int i = 0; i < lists::kCategoryCount; ++i) {
        auto *frame = new QGroupBox(lists::kCategoryCaptions[i], this);
        frame->setObjectName(QStringLiteral("Frame1_%1").arg(i));
        frame->setGeometry(twipsRect(lists::frameLeft(i), lists::frameTop(i), lists::kFrameWidth, lists::kFrameHeight));
        shell::setBackColor(frame, Qt::white);
        Frame1[i] = frame;

        auto *list = new QListWidget(frame);
        list->setObjectName(QStringLiteral("List1_%1").arg(i));
        list->setGeometry(twipsRect(240, 300, 2055, 1410));
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSortingEnabled(false);
        list->setItemDelegate(new ShortItemDelegate(list));
        keepOwnColours(list);
        List1[i] = list;

        PushButton2[i] = new PushButton(QStringLiteral("Add"), frame);
        PushButton2[i]->setObjectName(QStringLiteral("PushButton2_%1").arg(i));
        PushButton2[i]->setGeometry(twipsRect(240, 1820, 960, 405));
        PushButton3[i] = new PushButton(QStringLiteral("Delete"), frame);
        PushButton3[i]->setObjectName(QStringLiteral("PushButton3_%1").arg(i));
        PushButton3[i]->setGeometry(twipsRect(1320, 1820, 960, 405));
        const QString category = lists::kCategoryCaptions[i].trimmed();
        list->setAccessibleName(QStringLiteral("Items of ") + category);
        PushButton2[i]->setAccessibleName(QStringLiteral("Add an item to ") + category);
        PushButton3[i]->setAccessibleName(QStringLiteral("Delete the selected item of ") + category);
        connect(PushButton2[i], &QPushButton::clicked, this, [this, i] { PushButton2_Click(i); });
        connect(PushButton3[i], &QPushButton::clicked, this, [this, i] { PushButton3_Click(i); });
    }
}

void Form1::setTabOrder()
{
    // Text1 first, so it holds the focus when the window opens; then the generation
    // button, each frame with its list and buttons, and the two commands last.
    QList<QWidget *> order{Text1, PushButton1};
    for (int i = 0; i < lists::kCategoryCount; ++i)
        order << Frame1[i] << List1[i] << PushButton2[i] << PushButton3[i];
    order << PushButton5 << PushButton6;
    for (qsizetype k = 0; k + 1 < order.size(); ++k)
        QWidget::setTabOrder(order[k], order[k + 1]);
    Text1->setFocus();
}

void Form1::wireHoverPointer()
{
    // The hand over every button; the arrow over the background, the frames and the
    // lists (whose items sit in their viewports).
    m_pointer.hoverOnMouseMove(static_cast<QWidget *>(this), vbDefault);
    for (PushButton *button : {PushButton1, PushButton5, PushButton6})
        m_pointer.hoverOnMouseMove(button, vbCustom);
    for (int i = 0; i < lists::kCategoryCount; ++i) {
        m_pointer.hoverOnMouseMove(Frame1[i], vbDefault);
        m_pointer.hoverOnMouseMove(List1[i], vbDefault);
        m_pointer.hoverOnMouseMove(List1[i]->viewport(), vbDefault);
        m_pointer.hoverOnMouseMove(PushButton2[i], vbCustom);
        m_pointer.hoverOnMouseMove(PushButton3[i], vbCustom);
    }
}

void Form1::buildUndo()
{
    UndoAction = new QAction(QStringLiteral("Undo"), this);
    UndoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    RedoAction = new QAction(QStringLiteral("Redo"), this);
    RedoAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    for (QAction *action : {UndoAction, RedoAction}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(UndoAction, &QAction::triggered, this, &Form1::Undo);
    connect(RedoAction, &QAction::triggered, this, &Form1::Redo);
    for (QListWidget *list : List1) {
        list->addActions({UndoAction, RedoAction});
        list->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
    // The text box would take the keys for its own undo; it lies outside the window, where
    // nobody types, and holds the focus when the window opens.
    Text1->installEventFilter(this);
    updateUndoActions();
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Text1 && event->type() == QEvent::ShortcutOverride) {
        const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
        for (const QAction *action : {UndoAction, RedoAction})
            if (action->shortcuts().contains(pressed))
                return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::recordEdit(const std::function<void()> &command)
{
    if (m_editDepth > 0) {
        command();
        return;
    }
    lists::ListTexts before = lists::textsOf(List1);
    ++m_editDepth;
    command();
    --m_editDepth;
    if (before != lists::textsOf(List1)) {
        m_history.record(std::move(before));
        updateUndoActions();
    }
}

void Form1::updateUndoActions()
{
    UndoAction->setEnabled(m_history.canUndo());
    RedoAction->setEnabled(m_history.canRedo());
}

void Form1::Undo()
{
    // A run reads the lists while it lets messages through.
    if (mGenerating)
        return;
    m_history.undo(List1);
    updateUndoActions();
}

void Form1::Redo()
{
    if (mGenerating)
        return;
    m_history.redo(List1);
    updateUndoActions();
}

bool Form1::Form_Load()
{
    Guard g(u"Form1.Form_Load");
    g.step(102, [&] { ApplySkin(this, SkinFramework1); });
    g.step(104, [&] {
        setWindowTitle(kProductName);
        setWindowIcon(applicationIcon());
        SetAppTitle();
    });
    const QString cursorFile = platform::joinPath(platform::programFolder(), kHandCursorFile);
    if (g.test(106, [&] { return workbook::FileExists(cursorFile); }))
        g.step(108, [&] { m_pointer.setCustomCursor(loadCursorFile(cursorFile)); });
    lists::LoadCategoryLists(g, List1);
    g.step(146, [&] { update(); });
    bool available = true;
    g.step(148, [&] { available = CheckExcelAvailable(); });
    return available;
}

Form1::~Form1() = default;

void Form1::PushButton1_Click()
{
    workbook::PushButton1_Click(*this, m_names);
    // The window was closed while the run let messages through. The run has finished and
    // handed its workbook to a preview nobody will see: end as closing the preview would,
    // with the workbook removed.
    if (m_closedDuringRun && !mGenerating) {
        m_closedDuringRun = false;
        if (m_form2) {
            workbook::RemoveRunWorkbook(m_form2->mExcelFile);
            m_form2->hide();
        }
        hide();
        emit programEnding();
    }
}

int Form1::itemCount(int category) { return List1[category]->count(); }

QString Form1::item(int category, int k)
{
    const QListWidgetItem *entry = List1[category]->item(k);
    if (!entry)
        throw automation::AutomationError(QStringLiteral("Invalid procedure call or argument"));
    return entry->text();
}

preview::Form2 &Form1::form2()
{
    if (!m_form2) {
        m_form2 = std::make_unique<preview::Form2>();
        connect(m_form2.get(), &preview::Form2::backToLists, this, [this] { show(); });
        connect(m_form2.get(), &preview::Form2::closingProgram, this, [this] {
            Form_QueryUnload();
            emit programEnding();
        });
        m_form2->Form_Load();
    }
    return *m_form2;
}

void Form1::setPreviewPicture(const QImage &picture) { form2().setCapture(picture); }
void Form1::setPreviewWorkbook(const QString &path) { form2().mExcelFile = path; }
void Form1::showPreview()
{
    if (!m_closedDuringRun)
        form2().show();
}

void Form1::PushButton2_Click(int index)
{
    recordEdit([&] {
        Guard g(u"Form1.PushButton2_Click");
        lists::AddItem(g, List1[index], Frame1[index]->title());
    });
}

void Form1::PushButton3_Click(int index)
{
    recordEdit([&] {
        Guard g(u"Form1.PushButton3_Click");
        lists::DeleteSelectedItem(g, List1[index]);
    });
}

void Form1::PushButton5_Click()
{
    recordEdit([&] {
        Guard g(u"Form1.PushButton5_Click");
        lists::ClearAllLists(g, List1);
    });
}

void Form1::PushButton6_Click()
{
    recordEdit([&] {
        Guard g(u"Form1.PushButton6_Click");
        g.step(100, [&] { PushButton5_Click(); });
        lists::AppendSampleItems(g, List1);
    });
}

void Form1::Form_QueryUnload()
{
    Guard g(u"Form1.Form_QueryUnload");
    lists::SaveCategoryLists(g, List1);
}

void Form1::storeListsWhenTheSessionEnds(QGuiApplication &app)
{
    connect(&app, &QGuiApplication::commitDataRequest, this, [this] { Form_QueryUnload(); });
}

void Form1::closeEvent(QCloseEvent *event)
{
    // Never refused, whatever asked for it. During a run the program ends when the run
    // does, so that the run can remove what it made.
    Form_QueryUnload();
    event->accept();
    if (mGenerating) {
        m_closedDuringRun = true;
        return;
    }
    emit programEnding();
}

} // namespace shell
