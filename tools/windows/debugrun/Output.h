// Lines on debugrun's standard output and error, as UTF-8: the debuggee's debug lines on standard
// output, one per line, and debugrun's own reports on standard error.
#pragma once

#include <string>

namespace debugrun {

// Writes `line` and a line feed to standard output. Control characters other than tab become
// visible escapes ("\r", "\n", "\x1b"), so that one debug call is always exactly one line.
void writeDebugLine(const std::wstring& line);

// Writes "debugrun: " + `report` and a line feed to standard error, as it is.
void writeReport(const std::wstring& report);

// UTF-16 to UTF-8 through the system's conversion; unpaired surrogates become U+FFFD.
std::string toUtf8(const std::wstring& text);

// Text of the ANSI code page (the debuggee's, which is the machine's) to UTF-16.
std::wstring fromAnsi(const std::string& bytes);

}  // namespace debugrun
