// Serves the protocol over a pseudo-terminal, optionally paced like a UART. The host opens the
// slave side as its serial port; the simulator reads and writes the master side.
#pragma once

#include "protocolengine.h"
#include "stopsignal.h"
#include "uartpacer.h"

#include <QString>

#include <deque>
#include <functional>

namespace qvota::sim {

// Owns one file descriptor and closes it.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

class PtyServer
{
public:
    PtyServer(ProtocolEngine &engine, const StopSignal &stop, int baud);
    ~PtyServer(); // removes the symlink, if one was made

    // Creates the pty pair in raw mode and, when linkPath is not empty, a symlink to the slave.
    bool open(const QString &linkPath, QString *error);
    QString slavePath() const { return m_slavePath; }

    // Serves until a stop is requested; afterInput runs after every burst of input.
    void run(const std::function<void()> &afterInput);

private:
    struct Chunk
    {
        StopSignal::Clock::time_point due; // when the last byte is through the wire
        QByteArray bytes;
    };

    bool readMaster();
    void perform(const Actions &actions, StopSignal::Clock::time_point seen);
    bool writeMaster(const QByteArray &bytes);
    void hangUp();

    ProtocolEngine &m_engine;
    const StopSignal &m_stop;
    UartPacer m_pacer;
    UniqueFd m_master;
    // Held open so that the host closing and reopening the slave is never a hang-up for us.
    UniqueFd m_slave;
    QString m_slavePath;
    QString m_linkPath;
    std::deque<Chunk> m_inFlight;
};

} // namespace qvota::sim
