#include "container.h"

#include <QtEndian>

#include <cstring>

namespace qvota {

namespace {

std::array<quint32, 256> make_crc32_table()
{
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < table.size(); ++i) {
        quint32 c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr int MAGIC_LENGTH = sizeof(CONTAINER_MAGIC) - 1;

} // namespace

const std::array<quint32, 256> CRC32_TABLE = make_crc32_table();

bool is_container(const QByteArray &bytes)
{
    return bytes.size() >= ContainerHeader::SIZE
           && std::memcmp(bytes.constData(), CONTAINER_MAGIC, MAGIC_LENGTH) == 0;
}

bool parse_container(const QByteArray &bytes, QVariantMap *info, QString *error)
{
    return parse_container_header(bytes, bytes.size(), info, error);
}

bool parse_container_header(const QByteArray &head, qint64 fileSize, QVariantMap *info,
                            QString *error)
{
    const auto fail = [error](const char *message) {
        if (error)
            *error = QString::fromLatin1(message);
        return false;
    };

    if (!is_container(head) || fileSize < ContainerHeader::SIZE)
        return fail("bad magic (not a QVBIT002 file)");

    const auto *raw = reinterpret_cast<const uchar *>(head.constData());
    const qint64 plainSize = qFromLittleEndian<qint64>(raw + ContainerHeader::SIZE_OFFSET);
    // Compared as "payload length == size" so that a size field near the top of the 64-bit
    // range cannot overflow the sum with the header length.
    const qint64 payloadLength = fileSize - ContainerHeader::SIZE;
    if (plainSize <= 0 || plainSize != payloadLength)
        return fail("size field mismatch (truncated or corrupt)");

    const quint32 crc = qFromLittleEndian<quint32>(raw + ContainerHeader::CRC_OFFSET);
    if (info) {
        info->insert(QStringLiteral("size"), plainSize);
        info->insert(QStringLiteral("containerSize"), fileSize);
        info->insert(QStringLiteral("crc32"),
                     QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0')).toUpper());
    }
    return true;
}

quint32 crc32(const QByteArray &bytes)
{
    quint32 c = 0xFFFFFFFFu;
    for (const char ch : bytes)
        c = (c >> 8) ^ CRC32_TABLE[(c ^ static_cast<uchar>(ch)) & 0xFFu];
    return c ^ 0xFFFFFFFFu;
}

} // namespace qvota
