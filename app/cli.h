// The command-line runner: one update from options, with a time-stamped log on standard output.
#pragma once

#include <QStringList>

namespace qvota {

// arguments[0] is taken as the program name. Returns the process exit code: 0 when the update
// succeeded, 1 on any failure. Help and malformed command lines end the process in the parser.
int run_cli(const QStringList &arguments);

} // namespace qvota
