// One update started from the window, as a free function for the worker thread: it touches no
// controller state, so the only things it shares with the GUI thread are the cancel flag it reads
// and the callbacks it is given.
#pragma once

#include "expected.h"
#include "otaflow.h"

#include <QString>
#include <QVariantMap>

namespace qvota {

// Reads and checks the image, checks the start map, names the link and runs the update, with
// the window's lines: the container line, the link line and, once the link is open (the stage
// Identify), the file line. Empty callbacks are skipped.
Expected<void> run_update_job(const QVariantMap &cfg, const OtaCallbacks &callbacks);

} // namespace qvota
