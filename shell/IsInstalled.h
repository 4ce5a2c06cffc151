#pragma once
// The start-up test: can a spreadsheet server be created at all?

namespace shell {

// The five paragraphs shown when no server can be created.
extern const char *const kExcelMissingMessage;

// True when an "Excel.Application" object can be created (it is released at once).
// Otherwise shows the message (OK only, titled with the application title) and answers
// false: the caller ends the program before its window was ever shown.
bool CheckExcelAvailable();

} // namespace shell
