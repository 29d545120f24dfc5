#include "logexport.h"

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

} // namespace qvota
