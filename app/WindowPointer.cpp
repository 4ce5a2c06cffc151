#include "WindowPointer.h"

#include <QWidget>

namespace shell {

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

void WindowPointer::apply()
{
    switch (m_value) {
    case vbHourglass: m_window->setCursor(Qt::WaitCursor); break;
    case vbCustom:
        if (m_custom)
            m_window->setCursor(*m_custom);
        else
            m_window->unsetCursor();
        break;
    default: m_window->unsetCursor(); break;
    }
}

} // namespace shell
