// Real folder trees for the QML tests to browse through the controller; each lives in a
// temporary folder of its own, removed with this object when the run ends.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class TestFs : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Entries are relative paths: one ending in "/" is a folder, any other an empty file.
    // Returns the new folder as the listing spells it, or "" when an entry cannot be made.
    Q_INVOKABLE QString makeTree(const QStringList &entries);

private:
    std::vector<std::unique_ptr<QTemporaryDir>> m_trees;
};
