#pragma once
// The look of the two windows: the button-face colour that follows the user's colour
// scheme, and the hand pointer from HAND-M.CUR beside the program.

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

inline const QString kHandCursorFile = QStringLiteral("HAND-M.CUR");

// A Windows cursor file as a pointer, with the hot spot the file gives; raises an
// AutomationError naming the file when it is not a readable cursor.
QCursor loadCursorFile(const QString &path);

} // namespace shell
