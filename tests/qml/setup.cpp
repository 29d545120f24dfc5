// Qt Quick Test runner for the QML module: each tst_*.qml runs in an engine that has the
// module and the same context properties as the window ("ui", "appVersion", "i18n").
#include "fakecontroller.h"
#include "otacontroller.h"
#include "testfs.h"
#include "testsim.h"
#include "window.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest>

Q_IMPORT_QML_PLUGIN(QuelvaneOtaStudioPlugin)

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        QCoreApplication::setOrganizationName(QStringLiteral("Quelvane"));
        QCoreApplication::setApplicationName(QStringLiteral("Quelvane OTA Studio"));
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        // Qt 6.4 does not look in the module resources' root by itself.
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        qvota::publish_window_context(*engine);
        QQmlContext *context = engine->rootContext();
        if (qEnvironmentVariable("QVOTA_QML_UI") == QLatin1String("fake"))
            context->setContextProperty(QStringLiteral("ui"), new FakeController(engine));
        context->setContextProperty(QStringLiteral("testSim"), new TestSim(engine));
        // The interfaces of the stand-in and of the controller it stands in for, to compare.
        context->setContextProperty(
            QStringLiteral("interfaces"),
            QVariantMap{
                {QStringLiteral("controller"), qml_interface(qvota::OtaController::staticMetaObject)},
                {QStringLiteral("fake"),
                 qml_interface(FakeController::staticMetaObject, QStringLiteral("fake"))}});
        context->setContextProperty(QStringLiteral("testFs"), new TestFs(engine));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(qvota_qml, Setup)

#include "setup.moc"
