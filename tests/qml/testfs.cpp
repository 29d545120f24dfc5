#include "testfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString TestFs::makeTree(const QStringList &entries)
{
    auto tree = std::make_unique<QTemporaryDir>();
    const QDir root(tree->path());
    if (!tree->isValid())
        return {};
    for (const QString &entry : entries) {
        QFile file(root.filePath(entry));
        const bool made = entry.endsWith(QLatin1Char('/')) ? root.mkpath(entry)
                                                           : root.mkpath(QFileInfo(file).path())
                                                                 && file.open(QIODevice::WriteOnly);
        if (!made)
            return {};
    }
    m_trees.push_back(std::move(tree));
    return root.absolutePath();
}
