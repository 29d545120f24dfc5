#include "window.h"

#include "i18nmanager.h"
#include "otacontroller.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>

// The module is linked statically; this pulls in its registration.
Q_IMPORT_QML_PLUGIN(QuelvaneOtaStudioPlugin)

namespace qvota {

namespace {

void configure_application()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    // These two also key the settings store where the window keeps its theme and language.
    QGuiApplication::setApplicationName(QStringLiteral("Quelvane OTA Studio"));
    QGuiApplication::setOrganizationName(QStringLiteral("Quelvane"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app_icon_256.png")));
    // Lets a desktop match the window to the installed desktop entry (and its icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quelvane.OtaStudio"));
}

// The per-user files the window's settings are read from: the application's own and the
// organisation's, which the store reads as a fallback. Windows keeps them in the registry.
QStringList user_settings_files()
{
#ifdef Q_OS_WIN
    return {};
#else
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
        + QGuiApplication::organizationName();
    return {folder + QLatin1Char('/') + QGuiApplication::applicationName()
                + QStringLiteral(".conf"),
            folder + QStringLiteral(".conf")};
#endif
}

// The settings store reads its files whole and without a time limit, so a FIFO in their place
// would hold the window back for ever, and a device would be read to no end. Such a store is
// left alone: the window starts with the default theme and language, and what it would save
// goes to a folder that ends with the run.
void guard_settings_store(const QString &fallbackFolder)
{
    for (const QString &path : user_settings_files()) {
        const QFileInfo file(path);
        if (!file.exists() || (file.isFile() && file.isReadable()))
            continue;
        qWarning().noquote() << QStringLiteral(
                                    "settings: %1 is not a readable file; the theme and "
                                    "language are not restored or kept this time")
                                    .arg(QDir::toNativeSeparators(path));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, fallbackFolder);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, fallbackFolder);
        return;
    }
}

// Says once per process that the settings store cannot keep what the window hands it (a
// read-only file, or a folder that cannot be made): the store only records that in its status,
// which QML cannot read.
class SettingsSaveCheck : public QObject
{
    Q_OBJECT

public slots:
    void check()
    {
        if (m_said)
            return;
        // The store's files are shared by every settings object of the process, so this one
        // writes what the window's has just been given.
        QSettings settings;
        settings.sync();
        if (settings.status() != QSettings::AccessError)
            return;
        m_said = true;
        qWarning().noquote() << QStringLiteral(
                                    "settings: %1 cannot be written; the theme and language "
                                    "chosen now are not kept")
                                    .arg(QDir::toNativeSeparators(settings.fileName()));
    }

private:
    bool m_said = false;
};

bool load_main_window(QQmlApplicationEngine &engine, const QUrl &root)
{
    if (!root.isEmpty()) {
        engine.load(root);
    } else {
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
        engine.loadFromModule("QuelvaneOtaStudio", "Main");
#else
        engine.load(QUrl(QStringLiteral("qrc:/qt/qml/QuelvaneOtaStudio/Main.qml")));
#endif
    }
    return !engine.rootObjects().isEmpty();
}

} // namespace

void publish_window_context(QQmlEngine &engine)
{
    QQmlContext *context = engine.rootContext();
    context->setContextProperty(QStringLiteral("ui"), new OtaController(&engine));
    context->setContextProperty(QStringLiteral("appVersion"), QStringLiteral(QVOTA_VERSION));
    context->setContextProperty(QStringLiteral("i18n"), new I18nManager(&engine));
}

int run_window(int &argc, char **argv, const QUrl &root)
{
    QGuiApplication app(argc, argv);
    configure_application();
    const QTemporaryDir settingsFallback;
    guard_settings_store(settingsFallback.path());
    // Declared after the application, so it goes first, and with it the controller (which
    // cancels and joins a running update) and the translation manager.
    QQmlApplicationEngine engine;
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    // Newer Qt looks for modules under the resources' /qt/qml by itself.
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
#endif
    publish_window_context(engine);
    if (!load_main_window(engine, root))
        return -1;
    SettingsSaveCheck saveCheck;
    // A root of a test or benchmark need not be a Main.
    QObject *window = engine.rootObjects().constFirst();
    if (window->metaObject()->indexOfSignal("settingWritten(QString)") >= 0)
        QObject::connect(window, SIGNAL(settingWritten(QString)), &saveCheck, SLOT(check()));
    return QGuiApplication::exec();
}

} // namespace qvota

#include "window.moc"
