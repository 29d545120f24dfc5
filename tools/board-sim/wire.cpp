#include "wire.h"

namespace qvota::sim {

quint16 frame_crc16(const char *data, qsizetype count)
{
    quint16 reg = 0xFFFF;
    for (qsizetype i = 0; i < count; ++i) {
        reg ^= quint16(uchar(data[i]) << 8);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x8000) ? quint16((reg << 1) ^ 0x1021) : quint16(reg << 1);
    }
    return reg;
}

quint32 image_crc32(const QByteArray &bytes)
{
    quint32 reg = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        reg ^= uchar(byte);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1u) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    }
    return ~reg;
}

} // namespace qvota::sim
