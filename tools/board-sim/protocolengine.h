// The board's update firmware as a pure state machine: bytes from the host go in, replies come
// out as actions. It does no I/O and keeps no clock, so both transports share it and tests can
// drive it directly.
#pragma once

#include "record.h"
#include "simconfig.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace qvota::sim {

// The largest frame: AA 55, index, 256 payload bytes, CRC-16.
inline constexpr int MAX_FRAME_SIZE = 262;

struct Action
{
    enum class Kind { Send, HangUp };
    Kind kind = Kind::Send;
    int delayMs = 0; // simulated work and turnaround before the action takes place
    QByteArray bytes;

    bool operator==(const Action &other) const
    {
        return kind == other.kind && delayMs == other.delayMs && bytes == other.bytes;
    }
};
using Actions = std::vector<Action>;

class ProtocolEngine
{
public:
    using LogFunction = std::function<void(const QString &line)>;

    ProtocolEngine(const SimConfig &config, LogFunction log);

    // Bytes from a stream transport (the pty): commands and frames may be cut anywhere.
    Actions feedStream(const QByteArray &bytes);
    // One datagram: a frame must be a datagram of its own.
    Actions feedDatagram(const QByteArray &datagram);
    // True while a frame or command is half received; the transport then reports when the input
    // goes quiet, as a UART receiver's idle time-out would.
    bool hasPartialInput() const;
    // Drops a half-received frame or command.
    void inputIdle();

    // After a simulated link failure the board ignores everything.
    bool linkDropped() const { return m_linkDropped; }
    const Record &record() const { return m_record; }

private:
    enum class Mode { Command, Transfer };

    // Each consumes input in its mode and returns what is left once the mode has changed.
    QByteArray commandInput(const QByteArray &input, Actions &out);
    QByteArray transferInput(const QByteArray &input, Actions &out);

    void handleCommandByte(char byte, Actions &out);
    void handleErase(quint32 length, Actions &out);
    void handleFrame(const QByteArray &frame, Actions &out);
    void acceptFrame(int index, const QByteArray &frame, Actions &out);
    void completeTransfer(Actions &out);
    void leaveTransfer();
    void reportStrayBytes();

    int frameCount() const;
    int payloadSize(int index) const;
    void send(Actions &out, const QByteArray &bytes, int workMs = 0) const;
    void log(const QString &line) const;

    const QString m_jedecId;
    const int m_eraseMs;
    const int m_readbackMs;
    const int m_latencyMs;
    const FaultConfig m_faults;
    LogFunction m_log;

    Mode m_mode = Mode::Command;
    Record m_record;
    bool m_linkDropped = false;
    char m_bootSlot = '1';

    // Command mode
    bool m_awaitingLength = false;
    QByteArray m_lengthBytes;
    bool m_sawFrameMarker = false; // the last byte was 0xAA
    int m_skipStrayFrame = 0;      // bytes of a frame sent outside a transfer still to skip
    QByteArray m_strayBytes;       // ignored bytes not yet reported

    // Transfer mode
    qint64 m_length = 0;
    int m_nextIndex = 0;
    bool m_complete = false;
    bool m_resyncing = false; // skipping garbage until the next AA 55
    bool m_ackDropped = false;
    QByteArray m_image; // what has been received of the current transfer
    QByteArray m_rx;    // stream bytes that may be the start of a frame
    int m_garbage = 0;  // garbage bytes skipped and not yet reported

    QByteArray m_flash; // the plain image in the APP2 slot
};

} // namespace qvota::sim
