// Writing the window's log to a file the user chose.
#pragma once

#include <QString>
#include <QStringList>

namespace qvota {

// Writes the lines, each ended by a newline, as UTF-8, replacing the file only once everything
// is written. Returns an empty string on success, else why it failed.
QString save_log(const QString &path, const QStringList &lines);

} // namespace qvota
