#pragma once
// A polite termination request (SIGTERM from a logout or a service manager, SIGHUP when the
// terminal goes) closes the program the way its close box would, so the lists are stored.

namespace shell {

class Form1;

// Once, before the main window shows.
void closeOnTermination(Form1 &window);

} // namespace shell
