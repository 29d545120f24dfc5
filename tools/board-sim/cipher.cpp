#include "cipher.h"

#include "container.h"
#include "wire.h"

#include <QRandomGenerator>
#include <QtEndian>

namespace qvota::sim {

namespace {

// A fixed "device key": every simulator shares it, which is all a stand-in needs.
constexpr quint64 SIM_KEY = 0x51564F5441534D31ULL;

// SplitMix64 step: a full-period generator with well-mixed output, cheap enough to run per
// 8 bytes of a 2 MiB image.
quint64 splitmix64(quint64 &state)
{
    quint64 z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

quint64 seed_for(const QByteArray &nonce)
{
    quint64 state = SIM_KEY;
    const QByteArray padded = nonce.leftJustified(NONCE_SIZE, '\0', true);
    for (int i = 0; i < NONCE_SIZE; i += 8) {
        state ^= qFromLittleEndian<quint64>(padded.constData() + i);
        splitmix64(state);
    }
    return state;
}

} // namespace

QByteArray apply_keystream(const QByteArray &data, const QByteArray &nonce)
{
    QByteArray out = data;
    quint64 state = seed_for(nonce);
    quint64 block = 0;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (i % 8 == 0)
            block = splitmix64(state);
        out[i] = char(out[i] ^ char(block >> (8 * (i % 8))));
    }
    return out;
}

QByteArray pack_container(const QByteArray &plain, const QByteArray &nonce)
{
    QByteArray bytes(CONTAINER_MAGIC, 8);
    bytes.append(nonce.leftJustified(NONCE_SIZE, '\0', true));
    char field[8];
    qToLittleEndian<qint64>(plain.size(), field);
    bytes.append(field, 8);
    qToLittleEndian<quint32>(image_crc32(plain), field);
    bytes.append(field, 4);
    bytes.append(apply_keystream(plain, nonce));
    return bytes;
}

QByteArray random_nonce()
{
    quint32 words[NONCE_SIZE / sizeof(quint32)];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), NONCE_SIZE);
}

QByteArray plain_image(const QByteArray &received, bool *isContainer)
{
    const bool valid = parse_container(received, nullptr, nullptr);
    if (isContainer)
        *isContainer = valid;
    if (!valid)
        return received;
    return apply_keystream(received.mid(ContainerHeader::SIZE),
                           received.mid(ContainerHeader::OPAQUE_OFFSET, NONCE_SIZE));
}

} // namespace qvota::sim
