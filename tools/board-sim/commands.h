// The subcommands of qvota-board-sim. Each returns the process exit code.
#pragma once

#include <QStringList>

namespace qvota::sim {

// "pack PLAIN_IN CONTAINER_OUT": a container that the simulated board can decrypt.
int run_pack(const QStringList &args);
// "info CONTAINER": the header fields, one per line.
int run_info(const QStringList &args);
// "serve ...": the simulated board, until SIGINT or SIGTERM.
int run_serve(const QStringList &args);

} // namespace qvota::sim
