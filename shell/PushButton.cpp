#include "shell/PushButton.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace shell {

PushButton::PushButton(const QString &caption, QWidget *parent) : QPushButton(caption, parent)
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(11.25);
    f.setBold(true);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::Button, Qt::white);
    // Its own background too: the style draws a button's edges from the background, which
    // would otherwise follow whatever colour the frame or window beneath it is given.
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::ButtonText, palette().color(QPalette::ButtonText));
    setPalette(p);
    setAutoFillBackground(true);
    setMouseTracking(true);
}

void PushButton::mouseMoveEvent(QMouseEvent *event)
{
    emit mouseMoved(event->buttons(), event->modifiers(), event->position().toPoint());
    QPushButton::mouseMoveEvent(event);
    // The move was the button's: passed on, it would reach the frame or window beneath,
    // whose own hover handler would take the hand away again at once.
    event->accept();
}

void PushButton::keyPressEvent(QKeyEvent *event)
{
    // A plain button outside a dialog takes only Space; Enter would otherwise go on to the
    // window, where nothing answers it.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !event->isAutoRepeat() && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

} // namespace shell
