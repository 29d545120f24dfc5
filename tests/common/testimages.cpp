#include "testimages.h"

#include <QFile>
#include <QtEndian>

namespace qvota::test {

QByteArray make_container(const QByteArray &payload, qint64 sizeField, quint32 crcField,
                          const QByteArray &magic)
{
    QByteArray bytes = magic.left(8).leftJustified(8, '\0');
    for (int i = 0; i < 16; ++i)
        bytes.append(char(0xA0 + i));
    char field[8];
    qToLittleEndian<qint64>(sizeField, field);
    bytes.append(field, 8);
    qToLittleEndian<quint32>(crcField, field);
    bytes.append(field, 4);
    bytes.append(payload);
    return bytes;
}

QByteArray make_container(const QByteArray &payload, quint32 crcField)
{
    return make_container(payload, payload.size(), crcField);
}

QByteArray pattern_bytes(int length, quint32 seed)
{
    QByteArray bytes(length, Qt::Uninitialized);
    quint32 x = seed ? seed : 1;
    for (int i = 0; i < length; ++i) {
        // xorshift32: cheap, deterministic, and no byte value is favoured.
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x & 0xFF);
    }
    return bytes;
}

QString write_file(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

} // namespace qvota::test
