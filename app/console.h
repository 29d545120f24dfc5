// Console attachment for the command-line mode of a GUI-subsystem executable.
#pragma once

namespace qvota {

// When standard output is unusable (a GUI-subsystem program started from a console), attaches
// to the parent's console and reopens the standard streams on it. Does nothing where the
// process always inherits usable streams.
void attach_parent_console();

// An update must reach its verified end even when whoever reads its output has gone (a pipe
// into `head`): writes to a closed output fail quietly instead of ending the process.
void keep_running_without_output();

} // namespace qvota
