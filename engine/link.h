// The blocking byte transport that the update flow drives. Implementations wait on their
// device with deadlines and never need an event loop, so a link works on any thread.
#pragma once

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

    // Makes the link usable; on failure returns false and stores the reason in error (if given).
    virtual bool open(QString *error) = 0;
    virtual void close() = 0;
    // Gives the board a fresh connection before the warm boot (a no-op where that means nothing).
    virtual void reopen() = 0;
    // Returns true when every byte was handed to the device.
    virtual bool write(const QByteArray &bytes) = 0;
    // Returns the next byte as 0..255, or -1 when the time-out passes before a byte arrives.
    virtual int readByte(int timeoutMs) = 0;
    // Returns true and fills line when a line arrived in time; leaves line unchanged otherwise.
    virtual bool readLine(int timeoutMs, QString &line) = 0;
    // Drops whatever has been received and not yet read.
    virtual void clearInput() = 0;
    // A line for the run's log about input the link set aside since it was opened (for example
    // datagrams from other senders than the board); empty when there was none.
    virtual QString inputNote() const { return {}; }
    // Why the link can no longer carry anything (its device went away), or empty while it
    // works. Once set, every wait of the link ends at once instead of sitting out its time-out.
    virtual QString failure() const { return {}; }

    // A request to stop that ends the link's waits (open retries, pauses, reads, a stalled
    // write) within POLL_MS, as if their time had run out. The flag is only read.
    void setCancelFlag(const std::atomic_bool *flag) { m_cancel = flag; }
    bool cancelRequested() const { return m_cancel && m_cancel->load(); }
    // Sleeps ms unless a cancel is requested meanwhile; false when it was.
    bool pause(int ms) const;

    // The longest a wait goes without looking at the cancel flag.
    static constexpr int POLL_MS = 50;

private:
    const std::atomic_bool *m_cancel = nullptr;
};

} // namespace qvota
