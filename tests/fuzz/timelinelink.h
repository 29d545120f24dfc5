// A board that is nothing but a timeline of bytes: each byte becomes readable at a fixed virtual
// time, whatever the host writes. A deterministic host does the same against any board that
// produced the same timeline, so this covers every board behaviour, answering or not, for the
// flow. Waits cost virtual time only (see VirtualClock), and everything written and delivered is
// recorded with the time and the number of writes before it, for the checks after a run.
#pragma once

#include "link.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace qvota::fuzz {

class TimelineLink : public Link
{
public:
    // How a line is cut and what reopen does differ between the two real links; the flow must
    // cope with both.
    enum class Flavour {
        Serial, // a line ends at LF; a partial line at the time-out is lost; reopen takes 2 s
        Udp     // a line is everything received so far without CR and LF; reopen does nothing
    };

    struct Arrival
    {
        qint64 atMs;
        char byte;
    };

    enum class ReadKind { Byte, Line };

    struct Read
    {
        ReadKind kind;
        int timeoutMs;
        qint64 startMs;
        int writesBefore;
        bool delivered;
        QByteArray bytes; // the byte, or the line's Latin-1 text, when delivered
    };

    struct Write
    {
        QByteArray bytes;
        qint64 atMs;
    };

    static constexpr qint64 SERIAL_REOPEN_MS = 2000;

    TimelineLink(QList<Arrival> timeline, Flavour flavour);

    // Called after each write has been recorded, with the number of writes so far.
    void setWriteObserver(std::function<void(int writes)> observer)
    {
        m_writeObserver = std::move(observer);
    }

    const QList<Write> &writes() const { return m_writes; }
    const QList<Read> &reads() const { return m_reads; }
    // The number of writes made before each reopen.
    const QList<int> &reopens() const { return m_reopens; }

    Expected<void> open() override { return {}; }
    void close() override {}
    void reopen() override;
    bool write(const QByteArray &bytes) override;
    int readByte(int timeoutMs) override;
    bool readLine(int timeoutMs, QString &line) override;
    void clearInput() override;

private:
    bool arrivedBy(qint64 ms) const
    {
        return m_next < m_timeline.size() && m_timeline[m_next].atMs <= ms;
    }
    void dropArrived();
    void waitUntil(qint64 ms);
    Read &beginRead(ReadKind kind, int timeoutMs);

    QList<Arrival> m_timeline;
    qsizetype m_next = 0;
    Flavour m_flavour;
    std::function<void(int)> m_writeObserver;
    QList<Write> m_writes;
    QList<Read> m_reads;
    QList<int> m_reopens;
};

} // namespace qvota::fuzz
