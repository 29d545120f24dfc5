// What the board checks on the wire, written here a second time on purpose: the simulator
// must not borrow the host's CRCs or frame layout, or a fault in them would be mirrored by the
// board instead of caught by the end-to-end tests. Straight bit-by-bit forms, unlike the host's
// tables.
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace qvota::sim {

// Payload bytes in every frame but the last.
inline constexpr int FRAME_PAYLOAD_BYTES = 256;
// The APP2 slot: the largest image the board takes.
inline constexpr qint64 SLOT_BYTES = 2 * 1024 * 1024;

// CRC-16/CCITT-FALSE (polynomial 0x1021, register 0xFFFF, no reflection, no final XOR).
quint16 frame_crc16(const char *data, qsizetype count);

// CRC-32 of ISO-HDLC (reflected polynomial 0xEDB88320, register and final XOR 0xFFFFFFFF).
quint32 image_crc32(const QByteArray &bytes);

} // namespace qvota::sim
