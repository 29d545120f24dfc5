// The options of `qvota flash` and `qvota station`, read into what a run needs. A fault here
// is a usage error: the run has not started and no port has been touched.
#pragma once

#include "boardspec.h"
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
};

struct ParsedRun
{
    RunOptions options;
    bool help = false; // --help: print text, exit 0
    QString text;      // the help, or the usage error
};

// Parses arguments (the command's own, without "qvota" and the command word). ParsedRun::text
// is empty when options is ready to run.
ParsedRun parse_run_options(RunMode mode, const QStringList &arguments);

} // namespace qvota::cli
