// The file picker's browse operations, on real folders under a temporary directory.
#include "browse.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool make_file(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x", 1) == 1;
}

// Creates the folders, empty files and dangling symbolic links under root.
bool populate(const QString &root, const QStringList &dirs, const QStringList &files,
              const QStringList &danglingLinks = {})
{
    QDir dir(root);
    for (const QString &name : dirs) {
        if (!dir.mkpath(name))
            return false;
    }
    for (const QString &name : files) {
        if (!make_file(dir.filePath(name)))
            return false;
    }
    for (const QString &name : danglingLinks) {
        if (!QFile::link(dir.filePath(QStringLiteral("no such target")), dir.filePath(name)))
            return false;
    }
    return true;
}

QStringList entries(const QString &root)
{
    return QDir(root).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestBrowse : public QObject
{
    Q_OBJECT

private slots:
    void parseNameFilters_data();
    void parseNameFilters();
    void listDirEntries_data();
    void listDirEntries();
    void listDirPaths_data();
    void listDirPaths();
    void drives();
    void createDir_data();
    void createDir();
    void createDirAllNumbersTaken();
    void renameDir_data();
    void renameDir();
    void renameDirSource_data();
    void renameDirSource();
};

void TestBrowse::parseNameFilters_data()
{
    QTest::addColumn<QVariantList>("filters");
    QTest::addColumn<QStringList>("patterns");

    QTest::newRow("named filter") << QVariantList{"Images (*.qvbit)"} << QStringList{"*.qvbit"};
    QTest::newRow("bare pattern") << QVariantList{"*.qvbit"} << QStringList{"*.qvbit"};
    QTest::newRow("two in parentheses")
        << QVariantList{"Images (*.qvbit *.bin)"} << QStringList{"*.qvbit", "*.bin"};
    QTest::newRow("semicolon list")
        << QVariantList{"*.qvbit;*.bin"} << QStringList{"*.qvbit", "*.bin"};
    QTest::newRow("double extension")
        << QVariantList{"Archives (*.tar.gz)"} << QStringList{"*.tar.gz"};
    QTest::newRow("all files") << QVariantList{"All files (*)"} << QStringList{};
    QTest::newRow("star dot star") << QVariantList{"*.*"} << QStringList{};
    QTest::newRow("no filters") << QVariantList{} << QStringList{};
    QTest::newRow("elements in order, duplicates kept")
        << QVariantList{"Images (*.qvbit)", "All files (*)", "*.bin *.qvbit"}
        << QStringList{"*.qvbit", "*.bin", "*.qvbit"};
    QTest::newRow("non-string element") << QVariantList{42, "*.bin"} << QStringList{"*.bin"};
    QTest::newRow("a star ends an extension, a comma does not")
        << QVariantList{"(*.a,*.b)"} << QStringList{"*.a,", "*.b"};
}

void TestBrowse::parseNameFilters()
{
    QFETCH(QVariantList, filters);
    QFETCH(QStringList, patterns);
    QCOMPARE(qvota::parseNameFilters(filters), patterns);
    // The pattern is compiled once and shared; a second call must not depend on the first.
    QCOMPARE(qvota::parseNameFilters(filters), patterns);
}

void TestBrowse::listDirEntries_data()
{
    QTest::addColumn<QVariantList>("filters");
    QTest::addColumn<QStringList>("files");

    QTest::newRow("no filters: no files") << QVariantList{} << QStringList{};
    QTest::newRow("all files form: no files") << QVariantList{"All files (*)"} << QStringList{};
    // Case-insensitive both in matching and in order: a plain sort would put IMAGE first.
    QTest::newRow("qvbit") << QVariantList{"Images (*.qvbit)"}
                           << QStringList{"b.qvbit", "IMAGE.QVBIT"};
    QTest::newRow("upper-case pattern")
        << QVariantList{"*.QVBIT"} << QStringList{"b.qvbit", "IMAGE.QVBIT"};
    QTest::newRow("two patterns merged in name order")
        << QVariantList{"Images (*.qvbit *.bin)"} << QStringList{"b.qvbit", "c.bin", "IMAGE.QVBIT"};
    QTest::newRow("two filter elements")
        << QVariantList{"*.txt", "*.bin"} << QStringList{"c.bin", "notes.txt"};
    QTest::newRow("extension must end the name")
        << QVariantList{"*.bak"} << QStringList{"x.qvbit.bak"};
}

void TestBrowse::listDirEntries()
{
    QFETCH(QVariantList, filters);
    QFETCH(QStringList, files);

    const QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(populate(tmp.path(), {"beta", "Alpha", "gamma", "dir.qvbit", ".hidden", "beta/inner"},
                     {"b.qvbit", "IMAGE.QVBIT", "c.bin", "notes.txt", "x.qvbit.bak",
                      ".hidden.qvbit", "beta/deep.qvbit"}));

    const QVariantMap result = qvota::browse_list_dir(tmp.path(), filters);
    QCOMPARE(result.value("ok"), QVariant(true));
    QCOMPARE(result.value("path").toString(), QDir(tmp.path()).absolutePath());
    // Folders are listed whatever the filters say, hidden ones never, and only one level.
    QCOMPARE(result.value("dirs").toStringList(),
             QStringList({"Alpha", "beta", "dir.qvbit", "gamma"}));
    QCOMPARE(result.value("files").toStringList(), files);
}

void TestBrowse::listDirPaths_data()
{
    // Paths relative to the temporary folder, which is made the current folder; "<abs>" stands
    // for its absolute path.
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("parent");

    QTest::newRow("empty path is the current folder") << "" << true << "<abs>"
                                                      << "<parent>";
    QTest::newRow("dot") << "." << true << "<abs>"
                         << "<parent>";
    QTest::newRow("relative sub-folder") << "sub" << true << "<abs>/sub"
                                         << "<abs>";
    QTest::newRow("absolute sub-folder") << "<abs>/sub/deeper" << true << "<abs>/sub/deeper"
                                         << "<abs>/sub";
    QTest::newRow("cleaned") << "<abs>/sub/../sub/./deeper/" << true << "<abs>/sub/deeper"
                             << "<abs>/sub";
    QTest::newRow("root has no parent") << "/" << true << "/"
                                        << "";
    QTest::newRow("missing folder") << "missing" << false << ""
                                    << "";
    QTest::newRow("a file is not a folder") << "file.qvbit" << false << ""
                                            << "";
}

void TestBrowse::listDirPaths()
{
    QFETCH(QString, path);
    QFETCH(bool, ok);
    QFETCH(QString, listed);
    QFETCH(QString, parent);

    const QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(populate(tmp.path(), {"sub/deeper"}, {"file.qvbit"}));
    const QString abs = QDir(tmp.path()).absolutePath();
    const QString abs_parent = QFileInfo(abs).absolutePath();
    const auto expand = [&](QString text) {
        return text.replace("<parent>", abs_parent).replace("<abs>", abs);
    };

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(abs));
    const QVariantMap result = qvota::browse_list_dir(expand(path), {"*.qvbit"});
    QVERIFY(QDir::setCurrent(previous));

    QCOMPARE(result.value("ok").toBool(), ok);
    if (!ok) {
        QCOMPARE(result.keys(), QStringList{"ok"});
        return;
    }
    QCOMPARE(result.value("path").toString(), expand(listed));
    QVERIFY(result.contains("parent"));
    QCOMPARE(result.value("parent").toString(), expand(parent));
}

void TestBrowse::drives()
{
    const QStringList drives = qvota::browse_drives();
    QCOMPARE(drives.size(), QDir::drives().size());
    for (const QString &drive : drives) {
        QVERIFY2(QDir(drive).isRoot(), qPrintable(drive));
        QVERIFY2(QDir::isAbsolutePath(drive), qPrintable(drive));
    }
#ifdef Q_OS_UNIX
    QCOMPARE(drives, QStringList{"/"});
#endif
}

void TestBrowse::createDir_data()
{
    QTest::addColumn<QStringList>("dirs");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QString>("baseName");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("name");

    const QStringList none;
    QTest::newRow("default name") << none << none << none << "" << true << "New Folder";
    QTest::newRow("given name") << none << none << none << "Builds" << true << "Builds";
    QTest::newRow("given name taken")
        << QStringList{"Builds"} << none << none << "Builds" << true << "Builds (2)";
    QTest::newRow("next number") << QStringList{"New Folder", "New Folder (2)"} << none << none
                                 << "" << true << "New Folder (3)";
    QTest::newRow("first free number, not the highest")
        << QStringList{"New Folder", "New Folder (3)"} << none << none << "" << true
        << "New Folder (2)";
    QTest::newRow("a file blocks the name")
        << none << QStringList{"New Folder"} << none << "" << true << "New Folder (2)";
    QTest::newRow("a dangling link blocks the name")
        << none << none << QStringList{"New Folder"} << "" << true << "New Folder (2)";
    QTest::newRow("hidden entry blocks the name")
        << QStringList{".cache"} << none << none << ".cache" << true << ".cache (2)";
    QTest::newRow("percent signs in the name")
        << QStringList{"a%2"} << none << none << "a%2" << true << "a%2 (2)";
    QTest::newRow("name used untrimmed")
        << none << none << none << " spaced " << true << " spaced ";
    QTest::newRow("separator, first part missing")
        << none << none << none << "missing/sub" << false << "";
    QTest::newRow("separator, first part exists")
        << QStringList{"existing"} << none << none << "existing/sub" << true << "existing/sub";
}

void TestBrowse::createDir()
{
    QFETCH(QStringList, dirs);
    QFETCH(QStringList, files);
    QFETCH(QStringList, links);
    QFETCH(QString, baseName);
    QFETCH(bool, ok);
    QFETCH(QString, name);

    const QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(populate(tmp.path(), dirs, files, links));
    const QStringList before = entries(tmp.path());

    const QVariantMap result = qvota::browse_create_dir(tmp.path(), baseName);
    QCOMPARE(result.value("ok").toBool(), ok);
    if (!ok) {
        QCOMPARE(result.keys(), QStringList{"ok"});
        QCOMPARE(entries(tmp.path()), before);
        return;
    }
    QCOMPARE(result.value("name").toString(), name);
    QVERIFY(QFileInfo(QDir(tmp.path()).filePath(name)).isDir());
    if (!name.contains('/')) {
        QStringList expected = before + QStringList{name};
        expected.sort();
        QCOMPARE(entries(tmp.path()), expected);
    }
}

void TestBrowse::createDirAllNumbersTaken()
{
    const QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QStringList taken{"New Folder"};
    for (int n = 2; n <= 999; ++n)
        taken.append(QString("New Folder (%1)").arg(n));

    QVERIFY(populate(tmp.path(), taken.mid(0, taken.size() - 1), {}));
    QCOMPARE(qvota::browse_create_dir(tmp.path(), {}).value("name").toString(),
             QString("New Folder (999)"));

    // With "(999)" taken as well there is no name left, and nothing is created.
    const QVariantMap full = qvota::browse_create_dir(tmp.path(), {});
    QCOMPARE(full, (QVariantMap{{"ok", false}}));
    QCOMPARE(entries(tmp.path()).size(), taken.size());

    QCOMPARE(qvota::browse_create_dir(QDir(tmp.path()).filePath("missing"), {}),
             (QVariantMap{{"ok", false}}));
}

void TestBrowse::renameDir_data()
{
    QTest::addColumn<QString>("newName");
    // "" when the rename succeeds, else the expected error text.
    QTest::addColumn<QString>("error");

    QTest::newRow("plain rename") << "renamed"
                                  << "";
    QTest::newRow("unicode and inner blanks") << QString::fromUtf8("Ordner für Builds") << "";
    QTest::newRow("leading blank allowed") << " lead"
                                           << "";
    QTest::newRow("inner dots allowed") << "v1.2.3"
                                        << "";
    QTest::newRow("COM10 is no device") << "COM10"
                                        << "";
    QTest::newRow("CONSOLE is no device") << "CONSOLE"
                                          << "";
    QTest::newRow("same name is a no-op") << "src"
                                          << "";

    QTest::newRow("folder exists") << "taken"
                                   << "exists";
    QTest::newRow("file exists") << "file.txt"
                                 << "exists";
    QTest::newRow("hidden entry exists") << ".hidden"
                                         << "exists";
    QTest::newRow("dangling link exists") << "dangling"
                                          << "exists";

    QTest::newRow("empty") << ""
                           << "empty name";
    QTest::newRow("dot") << "."
                         << "not a folder name";
    QTest::newRow("dot dot") << ".."
                             << "not a folder name";
    QTest::newRow("slash") << "a/b"
                           << "name contains a path separator";
    QTest::newRow("backslash") << "a\\b"
                               << "name contains a path separator";
    QTest::newRow("escape upwards") << "../out"
                                    << "name contains a path separator";
    QTest::newRow("into sibling") << "taken/src"
                                  << "name contains a path separator";
    for (const char c : QByteArray("<>:\"|?*")) {
        QTest::addRow("forbidden %c", c)
            << QString("a%1b").arg(QLatin1Char(c)) << "name contains a forbidden character";
    }
    QTest::newRow("tab") << "a\tb"
                         << "name contains a forbidden character";
    QTest::newRow("control 0x01") << QString("a") + QChar(1)
                                  << "name contains a forbidden character";
    QTest::newRow("control 0x1f") << QString("a") + QChar(0x1f)
                                  << "name contains a forbidden character";
    QTest::newRow("trailing dot") << "name."
                                  << "name ends with a dot or space";
    QTest::newRow("trailing space") << "name "
                                    << "name ends with a dot or space";
    QTest::newRow("CON") << "CON"
                         << "reserved device name";
    QTest::newRow("con lower case") << "con"
                                    << "reserved device name";
    QTest::newRow("PRN") << "PRN"
                         << "reserved device name";
    QTest::newRow("Aux") << "Aux"
                         << "reserved device name";
    QTest::newRow("NUL with extension") << "nul.txt"
                                        << "reserved device name";
    QTest::newRow("COM1") << "COM1"
                          << "reserved device name";
    QTest::newRow("com9") << "com9"
                          << "reserved device name";
    QTest::newRow("LPT1") << "LPT1"
                          << "reserved device name";
    QTest::newRow("lpt9 double extension") << "lpt9.tar.gz"
                                           << "reserved device name";
    QTest::newRow("CON blank before extension") << "CON .log"
                                                << "reserved device name";
}

void TestBrowse::renameDir()
{
    QFETCH(QString, newName);
    QFETCH(QString, error);

    const QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(populate(tmp.path(), {"src/child", "taken", ".hidden"}, {"file.txt"}, {"dangling"}));
    const QDir root(tmp.path());
    const QStringList before = entries(tmp.path());

    const QVariantMap result = qvota::browse_rename_dir(root.filePath("src"), newName);
    if (!error.isEmpty()) {
        QCOMPARE(result, (QVariantMap{{"ok", false}, {"error", error}}));
        QCOMPARE(entries(tmp.path()), before);
        QVERIFY(QFileInfo(root.filePath("src/child")).isDir());
        return;
    }
    QCOMPARE(result, (QVariantMap{{"ok", true}, {"name", newName}}));
    // The folder moved with its contents and kept its parent.
    QVERIFY(QFileInfo(root.filePath(newName + "/child")).isDir());
    QStringList expected = before;
    expected.removeOne("src");
    expected.append(newName);
    expected.sort();
    QCOMPARE(entries(tmp.path()), expected);
}

void TestBrowse::renameDirSource_data()
{
    // The folder to rename, relative to the temporary folder ("<abs>" is its absolute path).
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("renamedPath");

    QTest::newRow("trailing slash") << "<abs>/src/"
                                    << ""
                                    << "<abs>/fresh";
    QTest::newRow("dot segments") << "<abs>/src/child/.."
                                  << ""
                                  << "<abs>/fresh";
    QTest::newRow("nested folder") << "<abs>/src/child"
                                   << ""
                                   << "<abs>/src/fresh";
    QTest::newRow("missing folder") << "<abs>/missing"
                                    << "not a folder"
                                    << "";
    QTest::newRow("a file") << "<abs>/file.txt"
                            << "not a folder"
                            << "";
    QTest::newRow("empty path") << ""
                                << "not a folder"
                                << "";
    QTest::newRow("root") << "/"
                          << "cannot rename a root folder"
                          << "";
}

void TestBrowse::renameDirSource()
{
    QFETCH(QString, path);
    QFETCH(QString, error);
    QFETCH(QString, renamedPath);

    const QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(populate(tmp.path(), {"src/child"}, {"file.txt"}));
    const QString abs = QDir(tmp.path()).absolutePath();
    path.replace("<abs>", abs);
    renamedPath.replace("<abs>", abs);

    const QVariantMap result = qvota::browse_rename_dir(path, "fresh");
    if (!error.isEmpty()) {
        QCOMPARE(result, (QVariantMap{{"ok", false}, {"error", error}}));
        return;
    }
    QCOMPARE(result, (QVariantMap{{"ok", true}, {"name", "fresh"}}));
    QVERIFY(QFileInfo(renamedPath).isDir());
}

QTEST_APPLESS_MAIN(TestBrowse)
#include "tst_browse.moc"
