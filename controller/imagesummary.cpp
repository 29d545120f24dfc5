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
    if (const Expected<void> opened = open_image_file(file); !opened)
        return rejected(opened.message());
    const qint64 fileSize = file.size();
    const Expected<ContainerInfo> container = judge_container(file.read(ContainerHeader::SIZE), fileSize);
    if (!container)
        return rejected(container.message());
    // The whole container travels, so the flow's size limit applies to the file.
    if (QString problem = image_size_problem(fileSize); !problem.isEmpty())
        return rejected(problem);

    QVariantMap info = container_info_map(*container);
    info.insert(QStringLiteral("ok"), true);
    info.insert(QStringLiteral("frames"), frame_count(fileSize));
    info.insert(QStringLiteral("wireBytes"), transfer_wire_bytes(fileSize));
    return info;
}

} // namespace qvota
