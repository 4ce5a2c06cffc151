#pragma once
// A polite termination request (SIGTERM from a logout or a service manager, SIGHUP when the
// terminal goes) closes the program the way its close box would, so the lists are stored.

namespace shell {

class Form1;

// Once, before the main window shows.
void closeOnTermination(Form1 &window);

// A write past the file size limit (ulimit -f) then fails with its own message and its
// partial file is removed, instead of the kernel ending the program mid-write. First thing.
void ignoreFileSizeLimitSignal();

} // namespace shell
