#include "window.h"

#include "i18nmanager.h"
#include "otacontroller.h"

#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
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
    return QGuiApplication::exec();
}

} // namespace qvota
