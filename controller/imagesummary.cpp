#include "imagesummary.h"

#include "container.h"
#include "imagefile.h"
#include "otaflow.h"

#include <QFile>

namespace qvota {

namespace {

QVariantMap rejected(const QString &error)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
}

} // namespace

QVariantMap inspect_image(const QString &path)
{
    QFile file(path);
    if (QString error; !open_image_file(file, &error))
        return rejected(error);
    const qint64 fileSize = file.size();
    const QByteArray head = file.read(ContainerHeader::size);

    if (!is_container(head))
        return rejected(QStringLiteral("not a .qvbit encrypted image (plain .sbit/.bin rejected)"));
    QVariantMap info;
    QString error;
    if (!parse_container_header(head, fileSize, &info, &error))
        return rejected(QStringLiteral("qvbit: %1").arg(error));
    // The whole container travels, so the flow's size limit applies to the file.
    if (fileSize > MAX_IMAGE_SIZE)
        return rejected(QStringLiteral("file size %1 out of range (1..%2)")
                            .arg(QString::number(fileSize), QString::number(MAX_IMAGE_SIZE)));

    info.insert(QStringLiteral("ok"), true);
    info.insert(QStringLiteral("frames"), frame_count(fileSize));
    info.insert(QStringLiteral("wireBytes"), transfer_wire_bytes(fileSize));
    return info;
}

} // namespace qvota
