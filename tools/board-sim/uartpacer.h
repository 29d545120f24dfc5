// Timing of a UART at a given bit rate, 8N1: ten bit times per byte in each direction, the two
// directions independent. The pty moves bytes instantly; the pacer says when they would have
// finished crossing a real wire.
#pragma once

#include <chrono>

#include <QtGlobal>

namespace qvota::sim {

class UartPacer
{
public:
    using Clock = std::chrono::steady_clock;

    explicit UartPacer(int baud); // 0 or less: no pacing, every time is "now"

    bool enabled() const { return m_baud > 0; }
    std::chrono::nanoseconds wireTime(qint64 bytes) const;

    // When count bytes that reached the pty at arrival have fully arrived over the wire.
    Clock::time_point receiveDone(Clock::time_point arrival, qint64 count);
    // When count bytes ready to go out at ready have fully reached the host over the wire.
    Clock::time_point transmitDone(Clock::time_point ready, qint64 count);

private:
    int m_baud;
    Clock::time_point m_rxFree; // the receive wire is busy until then
    Clock::time_point m_txFree;
};

} // namespace qvota::sim
