// The file picker's browse operations, on real folders under a temporary directory.
#include "browse.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// Creates entries under root: "name/" is a folder, "@name" a dangling symbolic link, "|name" a
// symbolic link to a FIFO (itself hidden), "%name" one to a device, else a file.
bool populate(const QString &root, const QStringList &names)
{
    const QDir dir(root);
    const QString fifo = dir.filePath(u".fifo"_s);
    for (const QString &name : names) {
        const QString link = dir.filePath(name.mid(1));
        const bool made =
            name.endsWith(u'/') ? dir.mkpath(name)
            : name.startsWith(u'@') ? QFile::link(dir.filePath(u"no such target"_s), link)
            : name.startsWith(u'|')
                ? (QFileInfo::exists(fifo) || ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0)
                      && QFile::link(fifo, link)
            : name.startsWith(u'%') ? QFile::link(u"/dev/null"_s, link)
                                    : QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
        if (!made)
            return false;
    }
    return true;
}

QStringList entries(const QString &root)
{
    return QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                | QDir::NoDotAndDotDot);
}

} // namespace

class TestBrowse : public QObject
{
    Q_OBJECT

private slots:
    void listDir_data()
    {
        QTest::addColumn<QVariantList>("filters");
        QTest::addColumn<QString>("files"); // separated by blanks

        QTest::newRow("no filters") << QVariantList{} << u""_s;
        QTest::newRow("all files") << QVariantList{u"All files (*)"_s} << u""_s;
        QTest::newRow("star dot star") << QVariantList{u"*.*"_s} << u""_s;
        // Case-insensitive in matching and in order: a plain sort would put IMAGE first.
        QTest::newRow("named") << QVariantList{u"Images (*.qvbit)"_s} << u"b.qvbit IMAGE.QVBIT"_s;
        QTest::newRow("bare pattern") << QVariantList{u"*.QVBIT"_s} << u"b.qvbit IMAGE.QVBIT"_s;
        QTest::newRow("two in parentheses")
            << QVariantList{u"Images (*.qvbit *.bin)"_s} << u"b.qvbit c.bin IMAGE.QVBIT"_s;
        QTest::newRow("semicolon list") << QVariantList{u"*.tar.gz;*.bin"_s} << u"c.bin x.tar.gz"_s;
        QTest::newRow("several elements")
            << QVariantList{u"*.txt"_s, u"*.bin"_s} << u"c.bin notes.txt"_s;
        // Links to a FIFO and a device are files, once each, and never folders (in any row).
        QTest::newRow("links to a FIFO and a device")
            << QVariantList{u"*.fifo"_s, u"*.dev"_s} << u"null.dev pipe.fifo"_s;
    }

    void listDir()
    {
        QFETCH(QVariantList, filters);
        QFETCH(QString, files);
        const QTemporaryDir tmp;
        QVERIFY(populate(tmp.path(),
                         {u"beta/inner/"_s, u"Alpha/"_s, u"gamma/"_s, u"dir.qvbit/"_s,
                          u".hidden/"_s, u"b.qvbit"_s, u"IMAGE.QVBIT"_s, u"c.bin"_s, u"notes.txt"_s,
                          u"x.tar.gz"_s, u".hidden.qvbit"_s, u"beta/deep.qvbit"_s, u"|pipe.fifo"_s,
                          u"%null.dev"_s}));
        // Folders whatever the filters say, one level only, and hidden entries never.
        QCOMPARE(qvota::browse_list_dir(tmp.path(), filters),
                 (QVariantMap{
                     {u"ok"_s, true},
                     {u"path"_s, tmp.path()},
                     {u"parent"_s, QFileInfo(tmp.path()).absolutePath()},
                     {u"dirs"_s, QStringList{u"Alpha"_s, u"beta"_s, u"dir.qvbit"_s, u"gamma"_s}},
                     {u"files"_s, files.split(u' ', Qt::SkipEmptyParts)}}));
    }

    void listDirPaths()
    {
        const QTemporaryDir tmp;
        QVERIFY(populate(tmp.path(), {u"sub/"_s, u"file.qvbit"_s}));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tmp.filePath(u"sub"_s)));
        const QVariantMap current = qvota::browse_list_dir(u""_s, {});
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(current.value(u"path"_s), QVariant(tmp.filePath(u"sub"_s)));
        QCOMPARE(current.value(u"parent"_s), QVariant(tmp.path()));

        QCOMPARE(qvota::browse_list_dir(u"/"_s, {}).value(u"parent"_s), QVariant(QString()));
        for (const QString &notFolder : {tmp.filePath(u"missing"_s), tmp.filePath(u"file.qvbit"_s)})
            QCOMPARE(qvota::browse_list_dir(notFolder, {}), (QVariantMap{{u"ok"_s, false}}));
    }

    void createDir_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("baseName");
        QTest::addColumn<QString>("name"); // "" when nothing may be created

        QTest::newRow("default name") << QStringList{} << u""_s << u"New Folder"_s;
        QTest::newRow("name taken") << QStringList{u"Builds/"_s} << u"Builds"_s << u"Builds (2)"_s;
        QTest::newRow("first free number")
            << QStringList{u"New Folder/"_s, u"New Folder (3)/"_s} << u""_s << u"New Folder (2)"_s;
        QTest::newRow("a file and a dangling link block names")
            << QStringList{u"New Folder"_s, u"@New Folder (2)"_s} << u""_s << u"New Folder (3)"_s;
        QTest::newRow("separator, first part missing") << QStringList{} << u"no/sub"_s << u""_s;
    }

    void createDir()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, baseName);
        QFETCH(QString, name);
        const QTemporaryDir tmp;
        QVERIFY(populate(tmp.path(), existing));
        const QStringList before = entries(tmp.path());

        const QVariantMap result = qvota::browse_create_dir(tmp.path(), baseName);
        if (name.isEmpty()) {
            QCOMPARE(result, (QVariantMap{{u"ok"_s, false}}));
            QCOMPARE(entries(tmp.path()), before);
            return;
        }
        QCOMPARE(result, (QVariantMap{{u"ok"_s, true}, {u"name"_s, name}}));
        QVERIFY(QFileInfo(tmp.filePath(name)).isDir());
    }

    void renameDir_data()
    {
        QTest::addColumn<QString>("path"); // in the temporary folder unless absolute
        QTest::addColumn<QString>("newName");
        QTest::addColumn<QString>("error"); // "" when the rename succeeds

        QTest::newRow("plain") << u"src"_s << u"fresh"_s << u""_s;
        QTest::newRow("trailing slash") << u"src/"_s << u"fresh"_s << u""_s;
        QTest::newRow("COM10 is no device") << u"src"_s << u"COM10"_s << u""_s;
        QTest::newRow("a file") << u"file.txt"_s << u"fresh"_s << u"not a folder"_s;
        QTest::newRow("root") << u"/"_s << u"fresh"_s << u"cannot rename a root folder"_s;
        QTest::newRow("empty") << u"src"_s << u""_s << u"empty name"_s;
        QTest::newRow("dot dot") << u"src"_s << u".."_s << u"not a folder name"_s;
        QTest::newRow("slash") << u"src"_s << u"../out"_s << u"name contains a path separator"_s;
        const QString forbidden = u"name contains a forbidden character"_s;
        QTest::newRow("forbidden") << u"src"_s << u"a?b"_s << forbidden;
        QTest::newRow("control") << u"src"_s << u"a\tb"_s << forbidden;
        QTest::newRow("end dot") << u"src"_s << u"name."_s << u"name ends with a dot or space"_s;
        QTest::newRow("reserved") << u"src"_s << u"con .txt"_s << u"reserved device name"_s;
        QTest::newRow("dangling link exists") << u"src"_s << u"dangling"_s << u"exists"_s;
    }

    void renameDir()
    {
        QFETCH(QString, path);
        QFETCH(QString, newName);
        QFETCH(QString, error);
        const QTemporaryDir tmp;
        QVERIFY(populate(tmp.path(), {u"src/child/"_s, u"file.txt"_s, u"@dangling"_s}));
        const QStringList before = entries(tmp.path());

        const QVariantMap result =
            qvota::browse_rename_dir(path.startsWith(u'/') ? path : tmp.filePath(path), newName);
        if (!error.isEmpty()) {
            QCOMPARE(result, (QVariantMap{{u"ok"_s, false}, {u"error"_s, error}}));
            QCOMPARE(entries(tmp.path()), before);
            return;
        }
        QCOMPARE(result, (QVariantMap{{u"ok"_s, true}, {u"name"_s, newName}}));
        QVERIFY(QFileInfo(tmp.filePath(newName + u"/child"_s)).isDir());
        QVERIFY(!QFileInfo::exists(tmp.filePath(u"src"_s)));
    }
};

QTEST_APPLESS_MAIN(TestBrowse)
#include "tst_browse.moc"
