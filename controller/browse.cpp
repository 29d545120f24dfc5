#include "browse.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace qvota {

namespace {

constexpr int LAST_FOLDER_NUMBER = 999;

// A dangling symbolic link is an entry too: QFileInfo::exists() alone would miss it.
bool entry_exists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QVariantMap rename_refused(const QString &error)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
}

// Windows refuses these as names even with an extension ("NUL.txt") or trailing blanks
// before it ("CON .log").
bool is_reserved_device_name(const QString &name)
{
    QString stem = name.left(name.indexOf(QLatin1Char('.')));
    while (stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    stem = stem.toUpper();
    if (stem == QLatin1String("CON") || stem == QLatin1String("PRN") || stem == QLatin1String("AUX")
        || stem == QLatin1String("NUL"))
        return true;
    return stem.size() == 4
           && (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT")))
           && stem.at(3) >= QLatin1Char('1') && stem.at(3) <= QLatin1Char('9');
}

} // namespace

QStringList browse_drives()
{
    QStringList roots;
    for (const QFileInfo &drive : QDir::drives())
        roots.append(drive.absolutePath());
    return roots;
}

QVariantMap browse_list_dir(const QString &path, const QVariantList &filters)
{
    QVariantMap result{{QStringLiteral("ok"), false}};
    const QDir dir(path);
    if (!dir.exists())
        return result;

    result[QStringLiteral("ok")] = true;
    result[QStringLiteral("path")] = dir.absolutePath();
    QString parent;
    if (!dir.isRoot()) {
        QDir up(dir);
        up.cdUp();
        parent = up.absolutePath();
    }
    result[QStringLiteral("parent")] = parent;

    // Without QDir::Hidden and QDir::System, hidden and system entries stay out of both lists.
    const QDir::SortFlags byName = QDir::Name | QDir::IgnoreCase;
    // QDir passes a symbolic link to a FIFO or a device as a folder too. Listed once, among the
    // files, it is picked like any file and then refused by the image check as not regular.
    QStringList dirs;
    for (const QFileInfo &entry : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, byName)) {
        if (entry.isDir())
            dirs.append(entry.fileName());
    }
    result[QStringLiteral("dirs")] = dirs;
    const QStringList patterns = parseNameFilters(filters);
    // An empty pattern list would mean "everything" to QDir, but to the picker it means nothing.
    result[QStringLiteral("files")] =
        patterns.isEmpty() ? QStringList() : dir.entryList(patterns, QDir::Files, byName);
    return result;
}

QVariantMap browse_create_dir(const QString &path, const QString &baseName)
{
    QVariantMap result{{QStringLiteral("ok"), false}};
    QDir dir(path);
    if (!dir.exists())
        return result;

    const QString base = baseName.isEmpty() ? QStringLiteral("New Folder") : baseName;
    QString candidate = base;
    for (int n = 2; n <= LAST_FOLDER_NUMBER && entry_exists(dir.filePath(candidate)); ++n)
        candidate = QStringLiteral("%1 (%2)").arg(base, QString::number(n));
    // mkdir fails on an existing name, so a folder full up to "(999)" gives "ok" false.
    if (dir.mkdir(candidate)) {
        result[QStringLiteral("ok")] = true;
        result[QStringLiteral("name")] = candidate;
    }
    return result;
}

QString folder_name_problem(const QString &newName)
{
    if (newName.isEmpty())
        return QStringLiteral("empty name");
    if (newName == QLatin1String(".") || newName == QLatin1String(".."))
        return QStringLiteral("not a folder name");
    const QStringView forbidden(u"<>:\"|?*");
    for (const QChar c : newName) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return QStringLiteral("name contains a path separator");
        if (c.unicode() < 0x20 || forbidden.contains(c))
            return QStringLiteral("name contains a forbidden character");
    }
    if (newName.endsWith(QLatin1Char('.')) || newName.endsWith(QLatin1Char(' ')))
        return QStringLiteral("name ends with a dot or space");
    if (is_reserved_device_name(newName))
        return QStringLiteral("reserved device name");
    return {};
}

QVariantMap browse_rename_dir(const QString &path, const QString &newName)
{
    // Absolute and clean, so "a/b/" and "a/b/." name b, and ".." names a real folder.
    const QFileInfo source(path.isEmpty() ? QString() : QDir(path).absolutePath());
    if (!source.isDir())
        return rename_refused(QStringLiteral("not a folder"));
    if (source.isRoot())
        return rename_refused(QStringLiteral("cannot rename a root folder"));
    if (const QString problem = folder_name_problem(newName); !problem.isEmpty())
        return rename_refused(problem);

    const QString oldName = source.fileName();
    const QVariantMap renamed{{QStringLiteral("ok"), true}, {QStringLiteral("name"), newName}};
    if (newName == oldName)
        return renamed; // nothing to change; the picker never asks, but it is not an error

    QDir parent = source.dir();
    const QString target = parent.filePath(newName);
    // On a case-insensitive file system "Builds" -> "builds" finds the folder itself, and
    // that is a rename, not a clash.
    const bool caseOnlyChange =
        newName.compare(oldName, Qt::CaseInsensitive) == 0
        && QFileInfo(target).canonicalFilePath() == source.canonicalFilePath();
    if (entry_exists(target) && !caseOnlyChange)
        return rename_refused(QStringLiteral("exists"));
    if (!parent.rename(oldName, newName))
        return rename_refused(QStringLiteral("rename failed"));
    return renamed;
}

QStringList parseNameFilters(const QVariantList &filters)
{
    // A star, a dot and an extension without blanks, parentheses, semicolons or stars.
    static const QRegularExpression pattern(QStringLiteral(R"(\*\.[^\s();*]+)"));
    QStringList patterns;
    for (const QVariant &filter : filters) {
        QRegularExpressionMatchIterator it = pattern.globalMatch(filter.toString());
        while (it.hasNext())
            patterns.append(it.next().captured(0));
    }
    return patterns;
}

} // namespace qvota
