// Windows asks a program with a console to end through the console's control handler, on
// a thread of its own: Ctrl+C, Ctrl+Break, the console window closed, the user logging off,
// the machine shutting down. For the last three the process is ended when the handler
// returns (after a few seconds at most), so the handler waits until the window has closed
// and the lists are stored. A program without a console hears of a logout or shutdown
// through the session manager's commitDataRequest instead, which Form1 answers.

#include "app/SessionEnd.h"

#include "app/Form1.h"

#include <QMetaObject>
#include <QPointer>

#include <windows.h>

namespace shell {

namespace {
// Shorter than the five seconds Windows grants a handler before it ends the process.
constexpr DWORD kCloseWaitMs = 4000;

QPointer<Form1> g_window;
HANDLE g_closed = nullptr; // set once the window has been asked to close and has done so

BOOL WINAPI onConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    Form1 *window = g_window.data();
    if (!window)
        return FALSE;
    QMetaObject::invokeMethod(
        window,
        [window] {
            closeVisibleWindow(*window);
            ::SetEvent(g_closed);
        },
        Qt::QueuedConnection);
    ::WaitForSingleObject(g_closed, kCloseWaitMs);
    return TRUE;
}
} // namespace

void closeOnTermination(Form1 &window)
{
    g_closed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_closed)
        return;
    g_window = &window;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

} // namespace shell
