#pragma once
// The end of a session from outside the program: a logout, a shutdown, a service manager's
// request, the console it was started from closing. Each closes the window the user sees the
// usual way, so the lists are stored as with any other close. (The session manager's own
// request reaches Form1 as commitDataRequest, on every platform.) Linux listens for SIGTERM
// and SIGHUP (SessionEnd_unix.cpp), Windows for the console's control events
// (SessionEnd_win.cpp).

namespace shell {

class Form1;

// Installs the platform's listener; the window must outlive the event loop.
void closeOnTermination(Form1 &window);

// The window the user sees closes, as if its close box was pressed: the preview removes
// its temporary workbook, and either way the lists are stored.
void closeVisibleWindow(Form1 &window);

} // namespace shell
