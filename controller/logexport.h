// Writing the window's log to a file the user chose, and what the save picker needs to know
// about the place it is written to.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace qvota {

// Writes the lines, each ended by a newline, as UTF-8, replacing the file only once everything
// is written. Returns an empty string on success, else why it failed.
QString save_log(const QString &path, const QStringList &lines);

// The folder listing of the browse operations with every file, not only those that match name
// filters: what a saved file could replace.
QVariantMap list_save_folder(const QString &path);

// Whether anything is at path: a file, a folder, a hidden entry or a dangling link, all of
// which a save would replace or fail on.
bool save_target_exists(const QString &path);

} // namespace qvota
