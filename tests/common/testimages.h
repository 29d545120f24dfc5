// Builders for image containers and plain files used across the tests.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace qvota::test {

// A container header (magic, 16 opaque bytes, size field, crc field) followed by payload.
// sizeField and crcField are written as given, so tests can build inconsistent headers.
QByteArray make_container(const QByteArray &payload, qint64 sizeField, quint32 crcField,
                          const QByteArray &magic = QByteArrayLiteral("QVBIT002"));

// A consistent container around payload: size field = payload length.
QByteArray make_container(const QByteArray &payload, quint32 crcField);

// Deterministic pseudo-random bytes, the same for the same seed on every run.
QByteArray pattern_bytes(int length, quint32 seed = 1);

// Writes bytes to dir/name and returns the full path (empty on failure).
QString write_file(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes);

} // namespace qvota::test
