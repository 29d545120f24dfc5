// The update protocol's fixed waits as the tests state them, apart from the engine's own
// constants: a test that timed itself by the engine's values would move with a wrong change to
// them instead of catching it.
#pragma once

#include <QtGlobal>

namespace qvota::test {

constexpr int IDENTIFY_TRIES = 5;
constexpr qint64 IDENTIFY_WINDOW_MS = 3000;
constexpr qint64 ERASE_WAIT_MS = 180000;
constexpr qint64 ACK_WAIT_MS = 15000;
constexpr qint64 RXDONE_WAIT_MS = 15000;
constexpr qint64 READBACK_WAIT_MS = 120000;
constexpr qint64 TARGET_PAUSE_MS = 200;
constexpr qint64 BANNER_WINDOW_MS = 8000;
constexpr qint64 SERIAL_REOPEN_MS = 2000;

} // namespace qvota::test
