#include "shell/WindowPointer.h"

#include "shell/PushButton.h"

#include <QEvent>
#include <QWidget>

#include <algorithm>

namespace shell {

namespace {
class HoverFilter : public QObject {
public:
    HoverFilter(QObject *parent, WindowPointer &pointer, int target)
        : QObject(parent), m_pointer(pointer), m_target(target) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseMove)
            m_pointer.hover(m_target);
        return QObject::eventFilter(watched, event);
    }

private:
    WindowPointer &m_pointer;
    int m_target;
};
} // namespace

void WindowPointer::setValue(int value)
{
    m_value = value;
    apply();
}

void WindowPointer::setCustomCursor(const QCursor &cursor)
{
    m_custom = cursor;
    apply();
}

void WindowPointer::hoverOnMouseMove(QWidget *element, int target)
{
    element->setMouseTracking(true);
    element->installEventFilter(new HoverFilter(element, *this, target));
}

void WindowPointer::hoverOnMouseMove(PushButton *button, int target)
{
    QObject::connect(button, &PushButton::mouseMoved, button, [this, target] { hover(target); });
}

void WindowPointer::apply()
{
    if (m_value != vbHourglass && m_value != vbCustom) {
        restoreOwnCursors();
        m_window->unsetCursor();
        return;
    }
    const QCursor shown = m_value == vbHourglass ? QCursor(Qt::WaitCursor)
                          : m_custom             ? *m_custom
                                                 : QCursor(Qt::ArrowCursor);
    m_window->setCursor(shown);
    for (QWidget *control : m_window->findChildren<QWidget *>()) {
        if (control->isWindow() || !control->testAttribute(Qt::WA_SetCursor))
            continue; // shows the window's pointer anyway
        const bool saved = std::any_of(m_own.begin(), m_own.end(), [control](const auto &own) {
            return own.first == control;
        });
        if (!saved)
            m_own.emplace_back(control, control->cursor());
        control->setCursor(shown);
    }
}

void WindowPointer::restoreOwnCursors()
{
    for (auto &[control, cursor] : m_own)
        if (control)
            control->setCursor(cursor);
    m_own.clear();
}

} // namespace shell
