#include "logexport.h"

#include "browse.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace qvota {

QString save_log(const QString &path, const QStringList &lines)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    for (const QString &line : lines) {
        file.write(line.toUtf8());
        file.write("\n");
    }
    if (!file.commit())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return {};
}

QVariantMap list_save_folder(const QString &path)
{
    QVariantMap result = browse_list_dir(path, {});
    if (result.value(QStringLiteral("ok")).toBool()) {
        // Hidden and system entries stay out, as in every other listing.
        result[QStringLiteral("files")] =
            QDir(path).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    }
    return result;
}

bool save_target_exists(const QString &path)
{
    const QFileInfo target(path);
    return target.exists() || target.isSymLink();
}

} // namespace qvota
