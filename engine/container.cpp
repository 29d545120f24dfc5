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

Expected<ContainerInfo> read_container_header(const QByteArray &head, qint64 fileSize)
{
    if (!is_container(head) || fileSize < ContainerHeader::SIZE)
        return Failure::refused(QStringLiteral("bad magic (not a QVBIT002 file)"));

    const auto *raw = reinterpret_cast<const uchar *>(head.constData());
    ContainerInfo info;
    info.size = qFromLittleEndian<qint64>(raw + ContainerHeader::SIZE_OFFSET);
    // Compared as "payload length == size" so that a size field near the top of the 64-bit
    // range cannot overflow the sum with the header length.
    const qint64 payloadLength = fileSize - ContainerHeader::SIZE;
    if (info.size <= 0 || info.size != payloadLength)
        return Failure::refused(QStringLiteral("size field mismatch (truncated or corrupt)"));
    info.containerSize = fileSize;
    info.crc32 = qFromLittleEndian<quint32>(raw + ContainerHeader::CRC_OFFSET);
    return info;
}

QVariantMap container_info_map(const ContainerInfo &info)
{
    return {{QStringLiteral("size"), info.size},
            {QStringLiteral("containerSize"), info.containerSize},
            {QStringLiteral("crc32"), crc32_text(info.crc32)}};
}

bool parse_container(const QByteArray &bytes, QVariantMap *info, QString *error)
{
    const Expected<ContainerInfo> read = read_container_header(bytes, bytes.size());
    if (!read) {
        if (error)
            *error = read.message();
        return false;
    }
    if (info)
        info->insert(container_info_map(*read));
    return true;
}

QString crc32_text(quint32 crc)
{
    return QString::number(crc, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

quint32 crc32(const QByteArray &bytes)
{
    quint32 c = 0xFFFFFFFFu;
    for (const char ch : bytes)
        c = (c >> 8) ^ CRC32_TABLE[(c ^ static_cast<uchar>(ch)) & 0xFFu];
    return c ^ 0xFFFFFFFFu;
}

} // namespace qvota
