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
    const QByteArray head = file.read(ContainerHeader::SIZE);

    QVariantMap info;
    if (QString verdict = container_verdict(head, fileSize, &info); !verdict.isEmpty())
        return rejected(verdict);
    // The whole container travels, so the flow's size limit applies to the file.
    if (QString problem = image_size_problem(fileSize); !problem.isEmpty())
        return rejected(problem);

    info.insert(QStringLiteral("ok"), true);
    info.insert(QStringLiteral("frames"), frame_count(fileSize));
    info.insert(QStringLiteral("wireBytes"), transfer_wire_bytes(fileSize));
    return info;
}

} // namespace qvota
