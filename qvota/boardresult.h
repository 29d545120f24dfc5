// How one board's update ended, as every output and the history record it.
#pragma once

#include "updaterun.h"

#include <QJsonObject>
#include <QString>

namespace qvota::cli {

enum class Outcome { Verified, Failed, Cancelled };

// "verified", "failed", "cancelled".
QString outcome_name(Outcome outcome);

struct BoardResult
{
    QString label;     // the board spec as written
    QString port;      // the device or address the board was reached at
    QString usbSerial; // the port's USB serial number, when it has one
    RunResult run;

    Outcome outcome() const
    {
        if (run.ok())
            return Outcome::Verified;
        return run.cancelled() ? Outcome::Cancelled : Outcome::Failed;
    }

    // Empty when verified. A cancel is said as one at every stage (the stage says where), also
    // during identification, whose own words would blame the board.
    QString message() const { return run.cancelled() ? CANCELLED : run.error(); }
};

struct Tally
{
    int verified = 0;
    int failed = 0;
    int cancelled = 0;

    void add(Outcome outcome);
    // 130 once interrupted, else 0 when every board was verified, else 1.
    int exitCode(bool interrupted) const;
};

// Payload bytes per second of the transfer (of the whole run when the transfer did not
// complete), or 0 when nothing was timed.
double rate(const RunResult &run);

// The facts of a result as JSON: outcome, stage, message, bytes, seconds, transferSeconds, port,
// usbSerial, expectedCrc32, rxCrc32, imgCrc32, warmBootAnswer; the optional ones only when known.
QJsonObject result_fields(const BoardResult &result);

} // namespace qvota::cli
