// Whether a board's update firmware is there: the station asks before it updates a slot and
// after, to know when the board has gone.
#pragma once

#include "boardrun.h"
#include "boardspec.h"

#include <QMutex>

#include <atomic>

namespace qvota::cli {

enum class Presence {
    Removed, // the port is not there at all (unplugged adapter, no port with the serial number)
    Silent,  // the port or address is there, but nothing answered "j" with a JEDEC line
    Answers,
};

// The serial ports as they are now, for slot threads that ask every second. Asking the system's
// device database costs tens of milliseconds, so the list is taken again only when the device
// folder changed (a port came or went); elsewhere than Linux, every time.
class PortListing
{
public:
    QList<PortInfo> now();

private:
    QMutex m_mutex;
    QList<PortInfo> m_ports;
    QString m_stamp; // of the device folder when m_ports was taken; empty: take again
};

// Looks for a board at one slot, once a second. The link stays open from one look to the next,
// so a waiting slot costs one "j" and one short read a second; a serial link that reports its
// device lost tells at once that the port was removed.
class SlotProbe
{
public:
    SlotProbe(const BoardSpec &spec, PortListing &ports, const std::atomic_bool *cancel);

    // Looks once; blocks for at most about half a second (longer only while a busy serial port
    // is retried), less when cancel is set. place gets where the board is, identity which
    // device node the port is now.
    Presence look(BoardPlace *place, QString *identity);
    // Closes the link, so that an update can open the port.
    void release();

private:
    const BoardSpec &m_spec;
    PortListing &m_ports;
    const std::atomic_bool *m_cancel;
    std::unique_ptr<Link> m_link;
    QString m_openedFor; // the port or address m_link was opened for
};

// Which device node a serial port is now: it changes when the port is removed and comes back
// (a new USB enumeration, a new pseudo-terminal), even under the same name and within one
// probe interval. Empty where the system cannot tell.
QString device_identity(const QString &path);

} // namespace qvota::cli
