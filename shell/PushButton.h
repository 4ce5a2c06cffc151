#pragma once
// The push button every window uses: Arial 11.25 pt bold on white, a click, and a
// mouse-move notification (which the hover pointer listens to) even with no button held.
// Enter and Return press it when it has the focus, as Space does.

#include <QPushButton>

namespace shell {

class PushButton : public QPushButton {
    Q_OBJECT
public:
    explicit PushButton(const QString &caption, QWidget *parent = nullptr);

signals:
    void mouseMoved(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint position);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace shell
