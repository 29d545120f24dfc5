// One update started from the window, as a free function for the worker thread: it touches no
// controller state, so the only things it shares with the GUI thread are the cancel flag it reads
// and the callbacks it is given.
#pragma once

#include "startconfig.h"

#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>

namespace qvota {

struct UpdateJobReport
{
    std::function<void(const QString &line)> log; // without a time stamp
    std::function<void(int done, int total)> progress;
    std::function<void(const QString &status)> status; // "running", once the link is open
};

// Checks the start map, reads and checks the image, names the link and runs the update.
// Returns the error text, empty on success. Empty callbacks are skipped.
QString run_update_job(const QVariantMap &cfg, const std::atomic_bool *cancel,
                       const UpdateJobReport &report);

} // namespace qvota
