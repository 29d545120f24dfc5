// Reading an image file for an update: only regular files, and never more than a bound far
// above what a container can hold, so a device, a pipe or a huge file cannot hang or swamp a run.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTime>
#include <QVariantMap>

namespace qvota {

// Files above this are refused before they are read. Generous: a container that the board can
// take is at most MAX_IMAGE_SIZE (2 MiB); anything between the two is read and then refused by
// the update flow with its own message.
inline constexpr qint64 MAX_IMAGE_FILE_SIZE = qint64(64) * 1024 * 1024;

// Opens file (its name set) for reading when it is a regular file within the bound. On failure
// error gets "cannot read PATH" when it cannot be opened, or "cannot read PATH: REASON".
bool open_image_file(QFile &file, QString *error);

// Reads the whole image file at path into bytes, with the checks and messages above.
bool read_image_file(const QString &path, QByteArray *bytes, QString *error);

// The verdict on a file's bytes (all of them, or its first bytes with fileSize the file's
// length): empty for a container, and its info filled; else the message a run ends with,
// "not a .qvbit encrypted image (plain .sbit/.bin rejected)" or "qvbit: " and the header's fault.
QString container_verdict(const QByteArray &bytes, qint64 fileSize, QVariantMap *info);

struct Image
{
    QByteArray bytes; // the whole container, as it is sent
    QVariantMap info; // "size", "containerSize", "crc32"
};

// Reads and checks the image of a run. On failure error gets the verdict of read_image_file or
// container_verdict.
bool load_image(const QString &path, Image *image, QString *error);

// The CRC-32 of the plain image that the container states, from its info.
quint32 expected_crc32(const QVariantMap &info);

// A log line as both front ends show it: the local time "HH:mm:ss.zzz", a blank, the line.
QString stamped(const QString &line, const QTime &time = QTime::currentTime());

} // namespace qvota
