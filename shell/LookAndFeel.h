#pragma once
// The look of the two windows: the skin of the main window (x/o.cjs beside the program,
// drawn by the skin control), the button-face colour that follows the user's colour
// scheme, and the hand pointer from HAND-M.CUR beside the program.

#include "platform/automation/AutomationObject.h"

#include <QColor>
#include <QCursor>
#include <QString>

class QWidget;

namespace shell {

// The system colour "button face" of the user's scheme.
QColor buttonFaceColor();

// The window and its option buttons, check boxes, frames and labels to button face;
// picture boxes and every other control keep their colours.
void SetFormBackColors(QWidget *window);

// Sets a widget's background colour (its "BackColor").
void setBackColor(QWidget *widget, const QColor &color);

// Picture boxes are plain widgets here; the window that owns one marks it, so the
// recolouring can tell it from other controls.
void markPictureBox(QWidget *widget);
bool isPictureBox(const QWidget *widget);

inline const QString kSkinFile = QStringLiteral("x/o.cjs");

// A regular file (or a link to one): a folder of that name does not count. There is no
// hidden or system attribute to test here.
bool isOrdinaryFile(const QString &path);

// When the skin file lies beside the program: the window and its option buttons, check
// boxes, frames, labels and picture boxes to button face, then the skin control (created
// through the class registry on first use) loads the file and draws the window in it.
// Without the file nothing changes. Failures raise to the caller's report.
void ApplySkin(QWidget *mainWindow, automation::ObjectRef &skinFramework);

inline const QString kHandCursorFile = QStringLiteral("HAND-M.CUR");

// A Windows cursor file as a pointer, with the hot spot the file gives; raises an
// AutomationError naming the file when it is not a readable cursor.
QCursor loadCursorFile(const QString &path);

} // namespace shell
