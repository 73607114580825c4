// The system debug channel: progress lines and server replies that nobody is meant to read
// unless they attach a debugger (Windows) or look at standard error (elsewhere).
#pragma once

#include <functional>
#include <string>

namespace platform {

// Writes one line to the debug channel.
void debugOutput(const std::u16string& line);

// Whether a debug line can reach anyone; a caller may skip building a line that nobody would read.
// (On Windows a debug viewer can start listening at any time, so there it is always true.)
bool debugListening();

// Redirects debug lines to `sink` (tests capture them this way); an empty function restores
// the platform channel. Not thread-safe: set it before the code under test runs.
void setDebugSink(std::function<void(const std::u16string&)> sink);

}  // namespace platform
