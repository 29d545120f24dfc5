// The .qvbit image container: header check and the CRC-32 that its header states.
#pragma once

#include "expected.h"

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

// What a container's header states, and the file's length.
struct ContainerInfo
{
    qint64 size = 0;          // of the plain image
    qint64 containerSize = 0; // of the whole file
    quint32 crc32 = 0;        // of the plain image
};

// True when the bytes are long enough for a header and start with the magic.
bool is_container(const QByteArray &bytes);

// Judges a container from its first bytes (at least the header's 36 when the file has them)
// and the file's length, so that a file can be judged without reading it whole. The failure's
// message is the header's fault, such as "size field mismatch (truncated or corrupt)".
Expected<ContainerInfo> read_container_header(const QByteArray &head, qint64 fileSize);

// The same facts as the map that QML and the container check's callers read: "size",
// "containerSize" and "crc32" (8 upper-case hex digits).
QVariantMap container_info_map(const ContainerInfo &info);

// Full header validation of a whole file's bytes. On success inserts the three keys of
// container_info_map into info; on failure stores the reason in error. Either pointer may be
// null, and neither is touched otherwise.
bool parse_container(const QByteArray &bytes, QVariantMap *info, QString *error);

// A CRC-32 as the container states it: eight upper-case hex digits.
QString crc32_text(quint32 crc);

// CRC-32 as used by zlib and IEEE 802.3.
quint32 crc32(const QByteArray &bytes);

} // namespace qvota
