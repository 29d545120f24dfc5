// The subcommands of qvota; each takes its own arguments and returns the exit code.
#pragma once

#include <QStringList>

namespace qvota::cli {

int run_flash(const QStringList &arguments);
int run_station(const QStringList &arguments);
int run_info(const QStringList &arguments);
int run_ports(const QStringList &arguments);

} // namespace qvota::cli
