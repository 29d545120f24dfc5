// Console attachment for the command-line mode of a GUI-subsystem executable.
#pragma once

namespace qvota {

// When standard output is unusable (a GUI-subsystem program started from a console), attaches
// to the parent's console and reopens the standard streams on it. Does nothing where the
// process always inherits usable streams.
void attach_parent_console();

} // namespace qvota
