#include "timelinelink.h"

#include "virtualclock.h"

#include <algorithm>

namespace qvota::fuzz {

TimelineLink::TimelineLink(QList<Arrival> timeline, Flavour flavour)
    : m_timeline(std::move(timeline))
    , m_flavour(flavour)
{}

void TimelineLink::dropArrived()
{
    while (arrivedBy(VirtualClock::nowMs()))
        ++m_next;
}

void TimelineLink::waitUntil(qint64 ms)
{
    VirtualClock::advanceMs(ms - VirtualClock::nowMs());
}

TimelineLink::Read &TimelineLink::beginRead(ReadKind kind, int timeoutMs)
{
    m_reads.append(Read{kind, timeoutMs, VirtualClock::nowMs(), int(m_writes.size()), false, {}});
    return m_reads.last();
}

void TimelineLink::reopen()
{
    m_reopens.append(int(m_writes.size()));
    if (m_flavour == Flavour::Serial) {
        VirtualClock::advanceMs(SERIAL_REOPEN_MS);
        dropArrived();
    }
}

bool TimelineLink::write(const QByteArray &bytes)
{
    m_writes.append(Write{bytes, VirtualClock::nowMs()});
    if (m_writeObserver)
        m_writeObserver(int(m_writes.size()));
    return true;
}

int TimelineLink::readByte(int timeoutMs)
{
    Read &read = beginRead(ReadKind::Byte, timeoutMs);
    const qint64 now = VirtualClock::nowMs();
    // A datagram already received is handed out whatever the time-out; a serial port is not
    // even looked at without time.
    const bool ready = m_flavour == Flavour::Udp ? arrivedBy(now) : false;
    if (!ready) {
        if (timeoutMs <= 0)
            return -1;
        if (!arrivedBy(now + timeoutMs)) {
            waitUntil(now + timeoutMs);
            return -1;
        }
        waitUntil(std::max(now, m_timeline[m_next].atMs));
    }
    const char byte = m_timeline[m_next++].byte;
    read.delivered = true;
    read.bytes = QByteArray(1, byte);
    return uchar(byte);
}

bool TimelineLink::readLine(int timeoutMs, QString &line)
{
    Read &read = beginRead(ReadKind::Line, timeoutMs);
    const qint64 now = VirtualClock::nowMs();
    QByteArray text;
    if (m_flavour == Flavour::Serial) {
        if (timeoutMs <= 0)
            return false;
        const qint64 deadline = now + timeoutMs;
        while (arrivedBy(deadline)) {
            const Arrival arrival = m_timeline[m_next++];
            if (arrival.byte == '\n') {
                waitUntil(std::max(now, arrival.atMs));
                read.delivered = true;
                read.bytes = text;
                line = QString::fromLatin1(text);
                return true;
            }
            if (arrival.byte != '\r')
                text.append(arrival.byte);
        }
        // The bytes of an unfinished line were taken off the port and are gone with the read.
        waitUntil(deadline);
        return false;
    }

    if (!arrivedBy(now)) {
        if (timeoutMs <= 0 || !arrivedBy(now + timeoutMs)) {
            waitUntil(now + std::max(timeoutMs, 0));
            return false;
        }
        waitUntil(m_timeline[m_next].atMs);
    }
    while (arrivedBy(VirtualClock::nowMs())) {
        const char byte = m_timeline[m_next++].byte;
        if (byte != '\r' && byte != '\n')
            text.append(byte);
    }
    read.delivered = true;
    read.bytes = text;
    line = QString::fromLatin1(text);
    return true;
}

void TimelineLink::clearInput()
{
    dropArrived();
}

} // namespace qvota::fuzz
