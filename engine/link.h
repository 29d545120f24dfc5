// The blocking byte transport that the update flow drives. Implementations wait on their
// device with deadlines and never need an event loop, so a link works on any thread.
//
// What a caller may rely on with either link, and where the two differ by design:
// - A wait ends at its time-out, within POLL_MS of a cancel request, and at once once the link
//   has failed (failure() is then set); a wait never lasts longer than its time-out.
// - readByte: the next byte as 0..255, or -1 when none came in time. A byte the UDP link holds
//   already comes at once whatever the time-out; the serial link returns -1 for a time-out of 0
//   or less even when bytes are waiting.
// - readLine: the serial link delivers one line, up to LF with CR dropped, and discards a
//   partial line at the time-out. The UDP link delivers everything received so far with every
//   CR and LF removed: two lines that came together arrive joined, without a separator. So a
//   caller looks for a marker in the text (see otaflow.h's has_jedec_reply), never at its start.
// - write: true when every byte went out; false only after a cancel request or when the link
//   failed, and then failure() says why, so a caller can end its wait at once.
#pragma once

#include "expected.h"

#include <QByteArray>
#include <QString>

#include <atomic>

namespace qvota {

class Link
{
public:
    Link() = default;
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;
    virtual ~Link() = default;

    // Makes the link usable. A cancel during the serial link's open retries fails with the kind
    // Cancelled; any other failure names the port or address.
    virtual Expected<void> open() = 0;
    virtual void close() = 0;
    // Gives the board a fresh connection before the warm boot (a no-op where that means nothing).
    virtual void reopen() = 0;
    virtual bool write(const QByteArray &bytes) = 0;
    virtual int readByte(int timeoutMs) = 0;
    // Leaves line unchanged when it returns false.
    virtual bool readLine(int timeoutMs, QString &line) = 0;
    // Drops whatever has been received and not yet read.
    virtual void clearInput() = 0;
    // A line for the run's log about input the link set aside since it was opened (for example
    // datagrams from other senders than the board); empty when there was none.
    virtual QString inputNote() const { return {}; }

    // Why the link can no longer carry anything (its device went away, a send was refused for
    // good), or empty while it works. Cleared when the link is opened again.
    QString failure() const { return m_failure; }

    // A request to stop that ends the link's waits (open retries, pauses, reads, a stalled
    // write) within POLL_MS, as if their time had run out. The flag is only read.
    void setCancelFlag(const std::atomic_bool *flag) { m_cancel = flag; }
    bool cancelRequested() const { return m_cancel && m_cancel->load(); }
    // Sleeps ms unless a cancel is requested meanwhile; false when it was.
    bool pause(int ms) const;

    // The longest a wait goes without looking at the cancel flag.
    static constexpr int POLL_MS = 50;

protected:
    // The first reason given stays: later faults follow from it.
    void setFailure(const QString &why)
    {
        if (m_failure.isEmpty())
            m_failure = why;
    }
    void clearFailure() { m_failure.clear(); }

private:
    const std::atomic_bool *m_cancel = nullptr;
    QString m_failure;
};

} // namespace qvota
