#pragma once
// COM on the user-interface thread: initialised once, apartment-threaded (the thread that
// owns windows, the clipboard and Excel's objects), with a message filter that retries a call
// Excel turns away while it is busy (a dialog open, a cell being edited), for at most
// busyTimeoutMs(), instead of failing it at once.

namespace com {

// Raises an AutomationError when the thread is already initialised for the multi-threaded
// apartment, where neither the clipboard nor the message filter works. Later calls return at
// once. COM stays initialised for the thread's life: objects may be released at any time
// before it ends.
void enterApartment();

} // namespace com
