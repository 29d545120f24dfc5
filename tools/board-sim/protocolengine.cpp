#include "protocolengine.h"

#include "cipher.h"
#include "wire.h"

#include <QtEndian>

namespace qvota::sim {

namespace {

constexpr uchar FRAME_MARK_0 = 0xAA;
constexpr uchar FRAME_MARK_1 = 0x55;
constexpr int FRAME_HEADER = 4; // AA 55 and the index
constexpr int FRAME_CRC = 2;
constexpr int ERASE_LENGTH_BYTES = 4;
constexpr char STRAY_REPLY[] = "?\r"; // no K and no LF: must not pass for an ack or a line
constexpr char RESET_BANNER[] = "QUELVANE GOLDEN boot\r\n";
const char *const NOISE_LINES[] = {"BOOT: ota loader v2", "DBG: spi clk 25 MHz",
                                   "DBG: flash quad mode on"};

// Bytes that cannot start a frame but do start a command: when one arrives where a frame
// should begin, the host has moved on.
bool is_command_byte(char byte)
{
    switch (byte) {
    case 'j':
    case 'U':
    case 'F':
    case 'b':
    case '1':
    case '2':
        return true;
    default:
        return false;
    }
}

QByteArray crc_text(quint32 crc)
{
    return QByteArray::number(crc, 16).rightJustified(8, '0');
}

QString hex_preview(const QByteArray &bytes)
{
    constexpr int shown = 16;
    QString text = QString::fromLatin1(bytes.left(shown).toHex(' '));
    if (bytes.size() > shown)
        text += QStringLiteral(" ...");
    return text;
}

} // namespace

ProtocolEngine::ProtocolEngine(const SimConfig &config, LogFunction log)
    : m_jedecId(config.jedecId)
    , m_eraseMs(config.eraseMs)
    , m_readbackMs(config.readbackMs)
    , m_latencyMs(config.latencyMs)
    , m_faults(config.faults)
    , m_log(std::move(log))
{}

Actions ProtocolEngine::feedStream(const QByteArray &bytes)
{
    Actions out;
    QByteArray input = bytes;
    while (!input.isEmpty() && !m_linkDropped) {
        input = m_mode == Mode::Command ? commandInput(input, out) : transferInput(input, out);
    }
    reportStrayBytes();
    return out;
}

Actions ProtocolEngine::feedDatagram(const QByteArray &datagram)
{
    Actions out;
    if (m_linkDropped || datagram.isEmpty())
        return out;
    if (datagram.size() > MAX_FRAME_SIZE) {
        log(QStringLiteral("ignored oversize datagram of %1 bytes (a frame is at most %2)")
                .arg(datagram.size())
                .arg(MAX_FRAME_SIZE));
        return out;
    }
    const bool looksLikeFrame = datagram.size() >= 2 && uchar(datagram[0]) == FRAME_MARK_0
                                && uchar(datagram[1]) == FRAME_MARK_1;
    if (m_mode == Mode::Transfer) {
        if (looksLikeFrame) {
            handleFrame(datagram, out);
            return out;
        }
        if (!m_complete && !is_command_byte(datagram[0])) {
            log(QStringLiteral("ignored %1-byte datagram that is not a frame: %2")
                    .arg(datagram.size())
                    .arg(hex_preview(datagram)));
            return out;
        }
        leaveTransfer();
    } else if (looksLikeFrame) {
        log(QStringLiteral("ignored a frame outside a transfer"));
        return out;
    }

    const QByteArray rest = commandInput(datagram, out);
    if (!rest.isEmpty()) {
        log(QStringLiteral("ignored %1 byte(s) after the erase command in its datagram")
                .arg(rest.size()));
    }
    reportStrayBytes();
    return out;
}

bool ProtocolEngine::hasPartialInput() const
{
    // Resynchronising counts too: after line noise the board must go quiet-timeout back to
    // accepting commands, or a host that gives the transfer up could never identify it again.
    return m_awaitingLength || m_skipStrayFrame > 0 || m_sawFrameMarker || m_resyncing
           || (m_mode == Mode::Transfer && !m_rx.isEmpty());
}

void ProtocolEngine::inputIdle()
{
    if (m_awaitingLength) {
        log(QStringLiteral("U without its length (%1 of 4 bytes), dropped")
                .arg(m_lengthBytes.size()));
    }
    if (m_mode == Mode::Transfer && !m_rx.isEmpty())
        log(QStringLiteral("dropped %1 byte(s) of an incomplete frame").arg(m_rx.size()));
    if (m_sawFrameMarker)
        m_strayBytes.append(char(FRAME_MARK_0));
    m_awaitingLength = false;
    m_lengthBytes.clear();
    m_sawFrameMarker = false;
    m_skipStrayFrame = 0;
    m_rx.clear();
    m_resyncing = false;
    reportStrayBytes();
}

QByteArray ProtocolEngine::commandInput(const QByteArray &input, Actions &out)
{
    for (qsizetype i = 0; i < input.size(); ++i) {
        const char byte = input[i];
        if (m_skipStrayFrame > 0) {
            --m_skipStrayFrame;
        } else if (m_awaitingLength) {
            m_lengthBytes.append(byte);
            if (m_lengthBytes.size() == ERASE_LENGTH_BYTES) {
                m_awaitingLength = false;
                handleErase(qFromLittleEndian<quint32>(m_lengthBytes.constData()), out);
                m_lengthBytes.clear();
            }
        } else if (m_sawFrameMarker && uchar(byte) == FRAME_MARK_1) {
            // A frame after a reset or an aborted transfer: skip it whole rather than read
            // its index and payload as commands.
            m_sawFrameMarker = false;
            m_skipStrayFrame = MAX_FRAME_SIZE - 2;
            log(QStringLiteral("ignored a frame outside a transfer"));
        } else {
            if (m_sawFrameMarker)
                m_strayBytes.append(char(FRAME_MARK_0));
            m_sawFrameMarker = uchar(byte) == FRAME_MARK_0;
            if (!m_sawFrameMarker)
                handleCommandByte(byte, out);
        }
        if (m_mode == Mode::Transfer || m_linkDropped)
            return input.mid(i + 1);
    }
    return {};
}

void ProtocolEngine::handleCommandByte(char byte, Actions &out)
{
    switch (byte) {
    case 'j': {
        ++m_record.identify;
        if (m_record.identify <= m_faults.silentIdentify) {
            log(QStringLiteral("j -> (no answer, fault %1 of %2)")
                    .arg(m_record.identify)
                    .arg(m_faults.silentIdentify));
            return;
        }
        for (int i = 0; i < m_faults.noiseLines; ++i)
            send(out, QByteArray(NOISE_LINES[i % std::size(NOISE_LINES)]) + "\r\n");
        const QByteArray reply = "JEDEC=" + m_jedecId.toLatin1();
        send(out, reply + "\r\n");
        log(QStringLiteral("j -> %1%2")
                .arg(QString::fromLatin1(reply),
                     m_faults.noiseLines > 0
                         ? QStringLiteral(" (after %1 noise line(s))").arg(m_faults.noiseLines)
                         : QString()));
        return;
    }
    case 'U':
        m_awaitingLength = true;
        m_lengthBytes.clear();
        return;
    case 'F': {
        ++m_record.readback;
        const quint32 crc = image_crc32(m_flash) ^ (m_faults.badImgCrc ? 0xFFFFFFFFu : 0u);
        const QByteArray reply = "IMGCRC=" + crc_text(crc);
        send(out, reply + "\r\n", m_readbackMs);
        log(QStringLiteral("F -> %1 (%2 bytes in APP2%3)")
                .arg(QString::fromLatin1(reply), QString::number(m_flash.size()),
                     m_faults.badImgCrc ? QStringLiteral(", wrong CRC by fault") : QString()));
        return;
    }
    case '1':
    case '2':
        m_bootSlot = byte;
        m_record.targets.append(QString(QLatin1Char(byte)));
        log(QStringLiteral("%1 -> boot slot APP%1 selected").arg(QLatin1Char(byte)));
        return;
    case 'b': {
        ++m_record.warmBoot;
        const QByteArray slot = "APP" + QByteArray(1, m_bootSlot);
        // The selection holds for one warm boot; the next one defaults to APP1 again.
        m_bootSlot = '1';
        if (m_faults.noBanner) {
            log(QStringLiteral("b -> (no banner, fault)"));
            return;
        }
        if (m_faults.doubleBanner)
            send(out, "WB->reboot\r\n");
        const QByteArray banner = "QUELVANE " + slot + " running (warm boot)";
        send(out, banner + "\r\n");
        log(QStringLiteral("b -> %1%2")
                .arg(QString::fromLatin1(banner),
                     m_faults.doubleBanner ? QStringLiteral(" (after WB->reboot)") : QString()));
        return;
    }
    default:
        m_strayBytes.append(byte);
        return;
    }
}

void ProtocolEngine::handleErase(quint32 length, Actions &out)
{
    m_record.erase.append(length);
    if (length == 0 || length > SLOT_BYTES) {
        send(out, "ERR len\r\n");
        log(QStringLiteral("U len=%1 -> ERR len (out of range 1..%2)").arg(length).arg(SLOT_BYTES));
        return;
    }
    m_mode = Mode::Transfer;
    m_length = length;
    m_nextIndex = 0;
    m_complete = false;
    m_resyncing = false;
    m_ackDropped = false;
    m_image.clear();
    m_image.reserve(length);
    m_rx.clear();
    m_garbage = 0;
    m_flash.clear();

    if (m_faults.noEraseReply) {
        log(QStringLiteral("U len=%1 -> (no reply, fault)").arg(length));
        return;
    }
    const QByteArray reply =
        m_faults.eraseReply.isEmpty() ? QByteArray("READY") : m_faults.eraseReply.toLatin1();
    send(out, reply + "\r\n", m_eraseMs);
    log(QStringLiteral("U len=%1 -> %2 (erase %3 ms, %4 frames expected)")
            .arg(QString::number(length), QString::fromLatin1(reply), QString::number(m_eraseMs),
                 QString::number(frameCount())));
}

QByteArray ProtocolEngine::transferInput(const QByteArray &input, Actions &out)
{
    m_rx.append(input);
    while (!m_rx.isEmpty() && m_mode == Mode::Transfer && !m_linkDropped) {
        // Where a frame should begin, a command byte (or, once every frame is in, anything
        // but a frame) means the host has moved on.
        const char first = m_rx[0];
        if (!m_resyncing
            && (is_command_byte(first) || (m_complete && uchar(first) != FRAME_MARK_0))) {
            leaveTransfer();
            break;
        }
        // Find the frame marker; everything before it is garbage.
        qsizetype start = 0;
        while (start < m_rx.size()
               && !(uchar(m_rx[start]) == FRAME_MARK_0
                    && (start + 1 == m_rx.size() || uchar(m_rx[start + 1]) == FRAME_MARK_1))) {
            ++start;
        }
        if (start > 0) {
            m_garbage += int(start);
            m_resyncing = true;
            m_rx.remove(0, start);
        }
        if (m_rx.size() < FRAME_HEADER)
            break;
        const int index = qFromLittleEndian<quint16>(m_rx.constData() + 2);
        if (index >= frameCount()) {
            // Not a frame of this transfer: look for the marker again one byte further on.
            m_garbage += 1;
            m_resyncing = true;
            m_rx.remove(0, 1);
            continue;
        }
        const int size = FRAME_HEADER + payloadSize(index) + FRAME_CRC;
        if (m_rx.size() < size)
            break;
        if (m_garbage > 0) {
            log(QStringLiteral("skipped %1 garbage byte(s) before frame %2")
                    .arg(m_garbage)
                    .arg(index));
            m_garbage = 0;
        }
        m_resyncing = false;
        const QByteArray frame = m_rx.left(size);
        m_rx.remove(0, size);
        handleFrame(frame, out);
    }
    if (m_garbage > 0 && m_rx.isEmpty()) {
        log(QStringLiteral("skipped %1 garbage byte(s) while waiting for a frame").arg(m_garbage));
        m_garbage = 0;
    }
    if (m_mode == Mode::Transfer)
        return {};
    QByteArray rest;
    rest.swap(m_rx);
    return rest;
}

void ProtocolEngine::handleFrame(const QByteArray &frame, Actions &out)
{
    if (frame.size() < FRAME_HEADER + 1 + FRAME_CRC) {
        ++m_record.badFrames;
        log(QStringLiteral("ignored a %1-byte frame: too short").arg(frame.size()));
        return;
    }
    const int index = qFromLittleEndian<quint16>(frame.constData() + 2);
    if (index >= frameCount()) {
        log(QStringLiteral("ignored frame %1: only %2 frame(s) announced")
                .arg(index)
                .arg(frameCount()));
        return;
    }
    const int payload = payloadSize(index);
    if (frame.size() != FRAME_HEADER + payload + FRAME_CRC) {
        ++m_record.badFrames;
        log(QStringLiteral("ignored frame %1: %2 bytes, expected %3")
                .arg(index)
                .arg(frame.size())
                .arg(FRAME_HEADER + payload + FRAME_CRC));
        return;
    }
    const quint16 stated = qFromBigEndian<quint16>(frame.constData() + FRAME_HEADER + payload);
    const quint16 computed = frame_crc16(frame.constData() + 2, 2 + payload);
    if (stated != computed) {
        ++m_record.badFrames;
        log(QStringLiteral("ignored frame %1: bad CRC-16 %2, computed %3")
                .arg(index)
                .arg(stated, 4, 16, QLatin1Char('0'))
                .arg(computed, 4, 16, QLatin1Char('0')));
        return;
    }
    m_record.frames.append(index);
    acceptFrame(index, frame, out);
}

void ProtocolEngine::acceptFrame(int index, const QByteArray &frame, Actions &out)
{
    if (index == m_faults.dropLinkAt) {
        log(QStringLiteral("frame %1 -> link dropped (fault)").arg(index));
        m_linkDropped = true;
        out.push_back(Action{Action::Kind::HangUp, m_latencyMs, {}});
        return;
    }
    if (index == m_faults.resetAt) {
        log(QStringLiteral("frame %1 -> board reset (fault), transfer forgotten").arg(index));
        send(out, RESET_BANNER);
        leaveTransfer();
        m_flash.clear();
        return;
    }
    if (index == m_faults.neverAck) {
        log(QStringLiteral("frame %1 -> (not stored, not acked: fault)").arg(index));
        return;
    }
    if (index == m_nextIndex - 1) {
        send(out, "K");
        log(QStringLiteral("frame %1 again -> K (re-acked, not stored twice)").arg(index));
        return;
    }
    if (index != m_nextIndex || m_complete) {
        log(QStringLiteral("ignored frame %1: out of order, expected %2")
                .arg(index)
                .arg(m_nextIndex));
        return;
    }

    m_image.append(frame.constData() + FRAME_HEADER, payloadSize(index));
    ++m_nextIndex;
    const bool last = m_nextIndex == frameCount();
    QByteArray ack = "K";
    if (index == m_faults.dropAck && !m_ackDropped) {
        m_ackDropped = true;
        ack.clear();
        log(QStringLiteral("frame %1 -> (stored, ack lost: fault)").arg(index));
    }
    if (last && m_faults.rxdoneInsteadOfLastAck && !m_faults.noRxdone)
        ack.clear();
    if (index == m_faults.strayAfter) {
        ack += STRAY_REPLY;
        log(QStringLiteral("frame %1 -> stray bytes after the ack (fault)").arg(index));
    }
    if (!ack.isEmpty())
        send(out, ack);
    if (last)
        completeTransfer(out);
}

void ProtocolEngine::completeTransfer(Actions &out)
{
    m_complete = true;
    bool isContainer = false;
    m_flash = plain_image(m_image, &isContainer);
    const quint32 crc = image_crc32(m_flash);
    ++m_record.updates;
    m_record.lastRxCrc = QString::fromLatin1(crc_text(crc));
    log(QStringLiteral("transfer complete: %1 bytes in %2 frame(s); %3")
            .arg(m_image.size())
            .arg(frameCount())
            .arg(isContainer
                     ? QStringLiteral("container decrypted, %1 plain bytes").arg(m_flash.size())
                     : QStringLiteral("not a QVBIT002 container, CRC over the raw bytes")));
    m_image.clear();

    if (m_faults.noRxdone) {
        log(QStringLiteral("RXDONE not sent (fault)"));
        return;
    }
    const QByteArray line =
        "RXDONE CRC32=" + crc_text(crc ^ (m_faults.badRxCrc ? 0xFFFFFFFFu : 0u));
    // In place of the last K the line goes out with a bare LF, as the host's ack reader expects.
    send(out, line + (m_faults.rxdoneInsteadOfLastAck ? "\n" : "\r\n"));
    log(QStringLiteral("-> %1%2%3")
            .arg(QString::fromLatin1(line),
                 m_faults.badRxCrc ? QStringLiteral(" (wrong CRC by fault)") : QString(),
                 m_faults.rxdoneInsteadOfLastAck ? QStringLiteral(" (instead of the last K)")
                                                 : QString()));
}

void ProtocolEngine::leaveTransfer()
{
    if (m_mode == Mode::Transfer && !m_complete) {
        log(QStringLiteral("transfer abandoned after %1 of %2 frame(s)")
                .arg(m_nextIndex)
                .arg(frameCount()));
    }
    m_mode = Mode::Command;
    m_image.clear();
    m_resyncing = false;
}

void ProtocolEngine::reportStrayBytes()
{
    if (m_strayBytes.isEmpty())
        return;
    log(QStringLiteral("ignored %1 stray byte(s) in command mode: %2")
            .arg(m_strayBytes.size())
            .arg(hex_preview(m_strayBytes)));
    m_strayBytes.clear();
}

int ProtocolEngine::frameCount() const
{
    return int((m_length + FRAME_PAYLOAD_BYTES - 1) / FRAME_PAYLOAD_BYTES);
}

int ProtocolEngine::payloadSize(int index) const
{
    return int(qMin<qint64>(FRAME_PAYLOAD_BYTES, m_length - qint64(index) * FRAME_PAYLOAD_BYTES));
}

void ProtocolEngine::send(Actions &out, const QByteArray &bytes, int workMs) const
{
    out.push_back(Action{Action::Kind::Send, workMs + m_latencyMs, bytes});
}

void ProtocolEngine::log(const QString &line) const
{
    if (m_log)
        m_log(line);
}

} // namespace qvota::sim
