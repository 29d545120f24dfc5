// Reading an image file for an update: only regular files, and never more than a bound far
// above what a container can hold, so a device, a pipe or a huge file cannot hang or swamp a run.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

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

} // namespace qvota
