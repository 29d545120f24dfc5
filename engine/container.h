// The .qvbit image container: header check and the CRC-32 that its header states.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <array>

namespace qvota {

// Header layout of a version-2 container; all integers are little-endian.
struct ContainerHeader
{
    static constexpr int SIZE = 36;
    static constexpr int MAGIC_OFFSET = 0;
    static constexpr int OPAQUE_OFFSET = 8; // 16 bytes the host passes through untouched
    static constexpr int SIZE_OFFSET = 24;  // signed 64-bit plain image size
    static constexpr int CRC_OFFSET = 32;   // unsigned 32-bit CRC-32 of the plain image
};

inline constexpr char CONTAINER_MAGIC[] = "QVBIT002";

// Reflected CRC-32 (polynomial 0xEDB88320); filled during static initialisation.
extern const std::array<quint32, 256> CRC32_TABLE;

// True when the bytes are long enough for a header and start with the magic.
bool is_container(const QByteArray &bytes);

// Full header validation. On success fills "size", "containerSize" and "crc32" into info;
// on failure stores the reason in error. Either pointer may be null.
bool parse_container(const QByteArray &bytes, QVariantMap *info, QString *error);

// The same validation from the first bytes of a file (at least the header's 36 when the file
// has them) and the file's length, so that a file can be judged without reading it whole.
bool parse_container_header(const QByteArray &head, qint64 fileSize, QVariantMap *info,
                            QString *error);

// CRC-32 as used by zlib and IEEE 802.3.
quint32 crc32(const QByteArray &bytes);

} // namespace qvota
