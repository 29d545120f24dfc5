// The simulator's own log on stderr: one time-stamped line per event.
#pragma once

#include <QString>

namespace qvota::sim {

// Writes "[seconds since start] line" to stderr and flushes it.
void log_line(const QString &line);

} // namespace qvota::sim
