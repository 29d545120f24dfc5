// What `qvota station --http` adds to a station: the status of its slots, kept by a reporter
// that the board threads report through, and the HTTP server that shows it.
#pragma once

#include "expected.h"
#include "runsetup.h"
#include "stationstatus.h"
#include "stationweb.h"
#include "statusreporter.h"

#include <memory>

namespace qvota::cli {

class StationWatch
{
public:
    // Serves run's status on run.options.http and says where, as a line of the run's output
    // (with --json the event "http"). The board threads are to report through reporter().
    static Expected<std::unique_ptr<StationWatch>> start(PreparedRun &run);

    Reporter &reporter() { return m_reporter; }

private:
    explicit StationWatch(PreparedRun &run);

    StationStatus m_status;
    StatusReporter m_reporter;
    std::unique_ptr<StationWeb> m_web; // last: it reads m_status until it is gone
};

} // namespace qvota::cli
