// What a run takes when the user says nothing else: one table for every front end, its option
// defaults and its help texts.
#pragma once

#include <QString>

namespace qvota::defaults {

inline const QString SERIAL_PORT = QStringLiteral("COM35");
inline constexpr int BAUD = 115200;
inline const QString BOARD_IP = QStringLiteral("192.168.0.100");
inline constexpr quint16 BOARD_PORT = 7777;
inline const QString HOST_IP = QStringLiteral("192.168.0.3");
inline constexpr quint16 HOST_PORT = 6666;
// Tries per frame before the update fails.
inline constexpr int RETRIES = 3;

} // namespace qvota::defaults
