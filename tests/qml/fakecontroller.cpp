#include "fakecontroller.h"

#include "browse.h"
#include "imagesummary.h"
#include "logexport.h"

#include <QJSValueIterator>

using namespace qvota;

QStringList FakeController::browseDrives() const
{
    return browse_drives();
}

QVariantMap FakeController::browseListDir(const QString &path, const QVariantList &filters) const
{
    return browse_list_dir(path, filters);
}

QVariantMap FakeController::browseCreateDir(const QString &path, const QString &baseName) const
{
    return browse_create_dir(path, baseName);
}

QVariantMap FakeController::browseRenameDir(const QString &path, const QString &newName) const
{
    return browse_rename_dir(path, newName);
}

void FakeController::start(const QJSValue &cfg)
{
    ++m_starts;
    m_lastKeys.clear();
    for (QJSValueIterator it(cfg); it.hasNext();) {
        it.next();
        m_lastKeys.append(it.name());
    }
    m_lastConfig = cfg.toVariant().toMap();
}

QVariantMap FakeController::imageSummary(const QString &path) const
{
    return inspect_image(path);
}

QString FakeController::saveLog(const QString &path, const QStringList &lines)
{
    m_savedLines = lines;
    return save_log(path, lines);
}

QVariantMap FakeController::browseListAll(const QString &path) const
{
    return list_save_folder(path);
}

bool FakeController::browseExists(const QString &path) const
{
    return save_target_exists(path);
}
