// The file picker's view of the file system: drive roots, one folder's sub-folders and
// name-filtered files, and creating and renaming folders. Stateless free functions; the
// controller's browse invokables forward to them. Failures come back as "ok" false in the map.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace qvota {

// Drive roots as the platform reports them, in its order ("/" on Linux, "C:/", "D:/" on Windows).
QStringList browse_drives();

// {"ok", "path", "parent", "dirs", "files"} for the folder at path ("" is the current folder).
// Hidden entries are not listed; files are listed only when the filters yield a pattern.
QVariantMap browse_list_dir(const QString &path, const QVariantList &filters);

// Creates baseName (default "New Folder") in path, or the first free "baseName (n)" for n from 2
// to 999. {"ok", "name"} with the name actually created.
QVariantMap browse_create_dir(const QString &path, const QString &baseName);

// Renames the folder at path to newName within its parent. {"ok", "name"} on success, otherwise
// {"ok": false, "error"} where "exists" means another entry already has that name.
QVariantMap browse_rename_dir(const QString &path, const QString &newName);

// Why newName cannot name a folder (empty when it can). Names that some platform rejects are
// refused everywhere, because a folder made here may end up on Windows.
QString folder_name_problem(const QString &newName);

// The wildcard patterns ("*.qvbit") in QML name filters such as "Images (*.qvbit *.bin)".
// "*" and "*.*" contribute nothing: a filter must name an extension.
QStringList parseNameFilters(const QVariantList &filters);

} // namespace qvota
