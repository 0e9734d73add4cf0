// What a command-line program needs of its console: whether an output goes to
// a terminal, and Ctrl+C turned from "end the process" into a request that
// the program's own loop sees, so that it can shut down cleanly.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// From now on Ctrl+C, Ctrl+Break and a polite termination request (SIGTERM,
// closing the console window) set the flag that InterruptRequested reads,
// instead of ending the process; so does ChildProcess::Interrupt from a
// parent (on Windows through an event named after the process, for a parent
// that shares no console with it). Call once, from the main thread, before
// other threads start.
void CatchInterrupt();

// True once such a request has arrived. Any thread may ask.
bool InterruptRequested();

// Whether `stream` is an interactive terminal rather than a file or a pipe.
bool IsTerminal(std::FILE* stream);

// Standard input passes bytes as they are: Windows' C runtime would
// otherwise turn CR LF into LF and stop at a Ctrl+Z byte, which would
// corrupt binary frames. Call before the first read.
void UseBinaryStandardInput();

// The program's arguments after its name, in UTF-8: on Windows read from the
// wide command line, as the C runtime's argv holds look-alikes (or "?") for
// what the ANSI code page lacks; elsewhere argv as it is.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Lines written to a console are UTF-8: on Windows its output code page is
// set so; elsewhere there is nothing to do.
void UseUtf8Console();

}  // namespace platform
