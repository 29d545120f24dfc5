#include "uartpacer.h"

#include <algorithm>

namespace qvota::sim {

namespace {
constexpr qint64 BITS_PER_BYTE = 10; // start bit, 8 data bits, stop bit
}

UartPacer::UartPacer(int baud)
    : m_baud(baud)
{}

std::chrono::nanoseconds UartPacer::wireTime(qint64 bytes) const
{
    if (!enabled())
        return std::chrono::nanoseconds::zero();
    return std::chrono::nanoseconds(bytes * BITS_PER_BYTE * 1000000000 / m_baud);
}

UartPacer::Clock::time_point UartPacer::receiveDone(Clock::time_point arrival, qint64 count)
{
    if (!enabled())
        return arrival;
    m_rxFree = std::max(arrival, m_rxFree) + wireTime(count);
    return m_rxFree;
}

UartPacer::Clock::time_point UartPacer::transmitDone(Clock::time_point ready, qint64 count)
{
    if (!enabled())
        return ready;
    m_txFree = std::max(ready, m_txFree) + wireTime(count);
    return m_txFree;
}

} // namespace qvota::sim
