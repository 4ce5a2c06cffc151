#pragma once
// One mouse pointer per window, in force over the window and all its controls:
// 0 the arrow, 11 the hourglass, 99 the window's custom image (the hand).
//
// Under 11 and 99 every control shows the window's pointer, even one with a pointer of
// its own (the preview's picture area has the size-all arrow); back at 0 each control
// shows its own again.

#include <QCursor>
#include <QPointer>
#include <optional>
#include <utility>
#include <vector>

class QWidget;

namespace shell {

class PushButton;

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

    // Wires a hover handler: every mouse move over element (with or without a button
    // held) runs hover(target). Push buttons use their own mouse-move notification.
    void hoverOnMouseMove(QWidget *element, int target);
    void hoverOnMouseMove(PushButton *button, int target);

private:
    void apply();
    void restoreOwnCursors();

    QWidget *m_window;
    int m_value = vbDefault;
    std::optional<QCursor> m_custom;
    // Controls with a pointer of their own, and that pointer, while the window's covers it.
    std::vector<std::pair<QPointer<QWidget>, QCursor>> m_own;
};

} // namespace shell
