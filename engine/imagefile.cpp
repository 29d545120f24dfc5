#include "imagefile.h"

#include "otaflow.h"

#include <QFileInfo>

#include <utility>

namespace qvota {

Expected<void> open_image_file(QFile &file)
{
    const QString path = file.fileName();
    const QFileInfo info(path);
    // Checked before opening: opening a named pipe blocks until something writes to it, and a
    // device such as /dev/zero never ends. A folder fails to open like a missing file.
    if (info.exists() && !info.isFile() && !info.isDir())
        return Failure::refused(QStringLiteral("cannot read %1: not a regular file").arg(path));
    if (info.size() > MAX_IMAGE_FILE_SIZE)
        return Failure::refused(
            QStringLiteral("cannot read %1: %2 bytes, far more than an image holds (at most %3)")
                .arg(path, QString::number(info.size()), QString::number(MAX_IMAGE_SIZE)));
    if (!file.open(QIODevice::ReadOnly))
        return Failure::refused(QStringLiteral("cannot read %1").arg(path));
    return {};
}

Expected<QByteArray> read_image_file(const QString &path)
{
    QFile file(path);
    if (Expected<void> opened = open_image_file(file); !opened)
        return opened.failure();
    // In pieces, and still bounded: the file may grow while it is read.
    constexpr qint64 piece = 1 << 20;
    QByteArray content;
    content.reserve(file.size());
    for (;;) {
        const QByteArray next = file.read(piece);
        if (file.error() != QFileDevice::NoError)
            return Failure::refused(
                QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        if (next.isEmpty())
            break;
        content += next;
        if (content.size() > MAX_IMAGE_FILE_SIZE)
            return Failure::refused(QStringLiteral("cannot read %1: grew beyond %2 bytes while read")
                                        .arg(path, QString::number(MAX_IMAGE_FILE_SIZE)));
    }
    return content;
}

Expected<ContainerInfo> judge_container(const QByteArray &bytes, qint64 fileSize)
{
    if (!is_container(bytes))
        return Failure::refused(
            QStringLiteral("not a .qvbit encrypted image (plain .sbit/.bin rejected)"));
    Expected<ContainerInfo> info = read_container_header(bytes, fileSize);
    if (!info)
        return Failure::refused(QStringLiteral("qvbit: %1").arg(info.message()));
    return info;
}

Expected<Image> load_image(const QString &path)
{
    Expected<QByteArray> bytes = read_image_file(path);
    if (!bytes)
        return bytes.failure();
    Image image;
    image.bytes = std::move(bytes).value();
    Expected<ContainerInfo> info = judge_container(image.bytes, image.bytes.size());
    if (!info)
        return info.failure();
    image.info = *info;
    return image;
}

} // namespace qvota
