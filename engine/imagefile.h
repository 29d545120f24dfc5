// Reading an image file for an update: only regular files, and never more than a bound far
// above what a container can hold, so a device, a pipe or a huge file cannot hang or swamp a run.
#pragma once

#include "container.h"
#include "expected.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace qvota {

// Files above this are refused before they are read. Generous: a container that the board can
// take is at most MAX_IMAGE_SIZE (2 MiB); anything between the two is read and then refused by
// the update flow with its own message.
inline constexpr qint64 MAX_IMAGE_FILE_SIZE = qint64(64) * 1024 * 1024;

// Opens file (its name set) for reading when it is a regular file within the bound. The failure
// says "cannot read PATH" when it cannot be opened, or "cannot read PATH: REASON".
Expected<void> open_image_file(QFile &file);

// Reads the whole image file at path, with the checks and messages above.
Expected<QByteArray> read_image_file(const QString &path);

// The verdict on a file's bytes (all of them, or its first bytes with fileSize the file's
// length): the container's facts, or the message a run ends with, "not a .qvbit encrypted
// image (plain .sbit/.bin rejected)" or "qvbit: " and the header's fault.
Expected<ContainerInfo> judge_container(const QByteArray &bytes, qint64 fileSize);

struct Image
{
    QByteArray bytes; // the whole container, as it is sent
    ContainerInfo info;
};

// Reads and checks the image of a run, with the messages of read_image_file and judge_container.
Expected<Image> load_image(const QString &path);

} // namespace qvota
