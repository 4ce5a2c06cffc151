#include "PushButton.h"

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
    p.setColor(QPalette::ButtonText, palette().color(QPalette::ButtonText));
    setPalette(p);
    setAutoFillBackground(true);
    setMouseTracking(true);
}

void PushButton::mouseMoveEvent(QMouseEvent *event)
{
    emit mouseMoved(event->buttons(), event->modifiers(), event->position().toPoint());
    QPushButton::mouseMoveEvent(event);
}

} // namespace shell
