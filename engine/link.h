// The blocking byte transport that the update flow drives. Implementations wait on their
// device with deadlines and never need an event loop, so a link works on any thread.
#pragma once

#include <QByteArray>
#include <QString>

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
};

} // namespace qvota
