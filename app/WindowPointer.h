#pragma once
// One mouse pointer per window, in force over the window and all its controls:
// 0 the arrow, 11 the hourglass, 99 the window's custom image (the hand).

#include <QCursor>
#include <optional>

class QWidget;

namespace shell {

enum PointerValue : int { vbDefault = 0, vbHourglass = 11, vbCustom = 99 };

class WindowPointer {
public:
    explicit WindowPointer(QWidget *window) : m_window(window) {}

    int value() const { return m_value; }
    void setValue(int value);

    // The custom image, shown while the value is 99; without one, 99 shows the arrow.
    void setCustomCursor(const QCursor &cursor);
    bool hasCustomCursor() const { return m_custom.has_value(); }

    // What a hover handler does: leave the hourglass alone, otherwise switch to target.
    void hover(int target)
    {
        if (m_value != vbHourglass)
            setValue(target);
    }

private:
    void apply();

    QWidget *m_window;
    int m_value = vbDefault;
    std::optional<QCursor> m_custom;
};

} // namespace shell
