// The two machine views of a station's status: the JSON of /api/status (docs/qvota-http.md)
// and the Prometheus text exposition, version 0.0.4, of /metrics.
#pragma once

#include "stationstatus.h"

#include <QByteArray>

namespace qvota::cli {

QByteArray status_json(const StationSnapshot &snapshot);

QByteArray metrics_text(const StationSnapshot &snapshot);

} // namespace qvota::cli
