#include "imagefile.h"

#include "container.h"
#include "otaflow.h"

#include <QFileInfo>

#include <utility>

namespace qvota {

namespace {

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

} // namespace

bool open_image_file(QFile &file, QString *error)
{
    const QString path = file.fileName();
    const QFileInfo info(path);
    // Checked before opening: opening a named pipe blocks until something writes to it, and a
    // device such as /dev/zero never ends. A folder fails to open like a missing file.
    if (info.exists() && !info.isFile() && !info.isDir())
        return fail(error, QStringLiteral("cannot read %1: not a regular file").arg(path));
    if (info.size() > MAX_IMAGE_FILE_SIZE)
        return fail(error,
                    QStringLiteral("cannot read %1: %2 bytes, far more than an image holds "
                                   "(at most %3)")
                        .arg(path, QString::number(info.size()), QString::number(MAX_IMAGE_SIZE)));
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot read %1").arg(path));
    return true;
}

bool read_image_file(const QString &path, QByteArray *bytes, QString *error)
{
    QFile file(path);
    if (!open_image_file(file, error))
        return false;
    // In pieces, and still bounded: the file may grow while it is read.
    constexpr qint64 piece = 1 << 20;
    QByteArray content;
    content.reserve(file.size());
    for (;;) {
        const QByteArray next = file.read(piece);
        if (file.error() != QFileDevice::NoError)
            return fail(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        if (next.isEmpty())
            break;
        content += next;
        if (content.size() > MAX_IMAGE_FILE_SIZE)
            return fail(error, QStringLiteral("cannot read %1: grew beyond %2 bytes while read")
                                   .arg(path, QString::number(MAX_IMAGE_FILE_SIZE)));
    }
    if (bytes)
        *bytes = std::move(content);
    return true;
}

QString container_verdict(const QByteArray &bytes, qint64 fileSize, QVariantMap *info)
{
    if (!is_container(bytes))
        return QStringLiteral("not a .qvbit encrypted image (plain .sbit/.bin rejected)");
    if (QString error; !parse_container_header(bytes, fileSize, info, &error))
        return QStringLiteral("qvbit: %1").arg(error);
    return {};
}

bool load_image(const QString &path, Image *image, QString *error)
{
    Image loaded;
    if (!read_image_file(path, &loaded.bytes, error))
        return false;
    if (QString verdict = container_verdict(loaded.bytes, loaded.bytes.size(), &loaded.info);
        !verdict.isEmpty())
        return fail(error, verdict);
    if (image)
        *image = std::move(loaded);
    return true;
}

quint32 expected_crc32(const QVariantMap &info)
{
    return info.value(QStringLiteral("crc32")).toString().toUInt(nullptr, 16);
}

QString stamped(const QString &line, const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ') + line;
}

} // namespace qvota
