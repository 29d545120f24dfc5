// The lines that only a verified update logs, as the tests and the soak run expect them: a run
// that reports success without all three is a false success.
#pragma once

#include <QString>

namespace qvota::test {

inline const QString RX_MATCH = QStringLiteral("RX CRC32 match");
inline const QString IMG_MATCH =
    QStringLiteral("IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED");
inline const QString COMPLETE = QStringLiteral("OTA FLOW COMPLETE");

} // namespace qvota::test
