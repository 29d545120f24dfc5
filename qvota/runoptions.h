// The options of `qvota flash` and `qvota station`, read into what a run needs. A fault here
// is a usage error: the run has not started and no port has been touched.
#pragma once

#include "boardspec.h"
#include "httpendpoint.h"
#include "reporter.h"

#include "otaflow.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace qvota::cli {

enum class RunMode { Flash, Station };

struct RunOptions
{
    QString imagePath;
    QList<BoardSpec> boards;
    OtaConfig flow;
    OutputOptions output;
    QString historyPath; // empty: no history
    int count = 0;       // station: finished updates before it ends; 0 runs until stopped
    std::optional<HttpEndpoint> http; // station: where it serves its page and metrics
};

struct ParsedRun
{
    RunOptions options;
    QString help; // not empty after --help: print it, exit 0
};

// Parses arguments (the command's own, without "qvota" and the command word). A failure is a
// usage error, with its message.
Expected<ParsedRun> parse_run_options(RunMode mode, const QStringList &arguments);

} // namespace qvota::cli
