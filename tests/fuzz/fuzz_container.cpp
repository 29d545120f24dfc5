// Fuzz target for the container check: is_container, parse_container (with and without its
// optional outputs), read_container_header on the first 36 bytes, and crc32. The verdict, the
// message and the info map are compared with the documented rules, computed here independently.
#include "container.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t HEADER_SIZE = 36;
const QString BAD_MAGIC = QStringLiteral("bad magic (not a QVBIT002 file)");
const QString SIZE_MISMATCH = QStringLiteral("size field mismatch (truncated or corrupt)");

// Present before the call, so that "left untouched" can be seen.
const QString ERROR_SENTINEL = QStringLiteral("untouched");

#define REQUIRE(condition)                                                                         \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "violated: %s (%s:%d)\n", #condition, __FILE__, __LINE__);        \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

quint64 read_le(const uint8_t *bytes, int count)
{
    quint64 value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

quint32 reference_crc32(const uint8_t *data, size_t size)
{
    quint32 reg = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1u) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    }
    return ~reg;
}

bool is_64bit_integer(const QVariant &value)
{
    const int type = value.typeId();
    return type == QMetaType::LongLong || type == QMetaType::ULongLong;
}

void check_info(const QVariantMap &info, qint64 plainSize, qint64 fileSize, quint32 crc)
{
    REQUIRE(is_64bit_integer(info.value(QStringLiteral("size"))));
    REQUIRE(info.value(QStringLiteral("size")).toLongLong() == plainSize);
    REQUIRE(is_64bit_integer(info.value(QStringLiteral("containerSize"))));
    REQUIRE(info.value(QStringLiteral("containerSize")).toLongLong() == fileSize);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", crc);
    const QVariant text = info.value(QStringLiteral("crc32"));
    REQUIRE(text.typeId() == QMetaType::QString);
    REQUIRE(text.toString() == QLatin1String(hex));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const bool magic = size >= HEADER_SIZE && std::memcmp(data, "QVBIT002", 8) == 0;
    const qint64 plainSize = magic ? qint64(read_le(data + 24, 8)) : 0;
    const quint32 crc = magic ? quint32(read_le(data + 32, 4)) : 0;
    // Compared as a difference: the field may be anywhere in the signed 64-bit range.
    const bool valid = magic && plainSize > 0 && plainSize == qint64(size) - qint64(HEADER_SIZE);
    const QString expectedError = !magic ? BAD_MAGIC : SIZE_MISMATCH;

    REQUIRE(qvota::is_container(bytes) == magic);

    QVariantMap info;
    QString error = ERROR_SENTINEL;
    REQUIRE(qvota::parse_container(bytes, &info, &error) == valid);
    if (valid) {
        REQUIRE(info.size() == 3);
        check_info(info, plainSize, qint64(size), crc);
        REQUIRE(error == ERROR_SENTINEL);
    } else {
        REQUIRE(info.isEmpty());
        REQUIRE(error == expectedError);
    }

    // A map that already holds entries: other keys survive a success, nothing changes on failure.
    const QVariantMap before{{QStringLiteral("size"), QStringLiteral("stale")},
                             {QStringLiteral("other"), 7}};
    QVariantMap held = before;
    REQUIRE(qvota::parse_container(bytes, &held, nullptr) == valid);
    if (valid) {
        REQUIRE(held.size() == 4 && held.value(QStringLiteral("other")) == QVariant(7));
        check_info(held, plainSize, qint64(size), crc);
    } else {
        REQUIRE(held == before);
    }

    QString onlyError = ERROR_SENTINEL;
    REQUIRE(qvota::parse_container(bytes, nullptr, &onlyError) == valid);
    REQUIRE(onlyError == (valid ? ERROR_SENTINEL : expectedError));
    REQUIRE(qvota::parse_container(bytes, nullptr, nullptr) == valid);

    // Judging a file from its head and length must agree with judging the whole.
    const qvota::Expected<qvota::ContainerInfo> head =
        qvota::read_container_header(bytes.left(HEADER_SIZE), qint64(size));
    REQUIRE(head.ok() == valid);
    REQUIRE((head ? qvota::container_info_map(*head) : QVariantMap()) == info);
    REQUIRE((head ? ERROR_SENTINEL : head.message()) == error);

    REQUIRE(qvota::crc32(bytes) == reference_crc32(data, size));
    return 0;
}
