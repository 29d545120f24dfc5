// Screen readers reach the themed buttons through the platform accessibility layer; its press
// and toggle actions must do what a click does.
#include <QAccessible>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(QuelvaneOtaStudioPlugin)

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QQuickStyle::setStyle(QStringLiteral("Basic")); }

    void actionsActLikeClicks()
    {
        QQmlEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nimport QuelvaneOtaStudio\nItem {\n"
                          "  ThemedButton { objectName: \"button\"; text: \"Refresh\" }\n"
                          "  NavButton { objectName: \"nav\"; y: 50; text: \"Log\" }\n"
                          "  ThemedSwitch { objectName: \"toggle\"; y: 100; text: \"Verbose\" }\n"
                          "}",
                          QUrl());
        std::unique_ptr<QQuickItem> root(qobject_cast<QQuickItem *>(component.create()));
        QVERIFY2(root, qPrintable(component.errorString()));
        QQuickWindow window;
        root->setParentItem(window.contentItem());

        const auto act = [&](const char *name, const QString &action) {
            QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(
                root->findChild<QQuickItem *>(QLatin1String(name)));
            QVERIFY(iface && iface->actionInterface());
            QVERIFY(iface->actionInterface()->actionNames().contains(action));
            iface->actionInterface()->doAction(action);
        };
        for (const char *name : {"button", "nav"}) {
            QSignalSpy clicked(root->findChild<QQuickItem *>(QLatin1String(name)),
                               SIGNAL(clicked()));
            act(name, QAccessibleActionInterface::pressAction());
            QCOMPARE(clicked.count(), 1);
        }

        auto *toggle = root->findChild<QQuickItem *>(QStringLiteral("toggle"));
        QSignalSpy toggled(toggle, SIGNAL(toggled()));
        act("toggle", QAccessibleActionInterface::toggleAction());
        QVERIFY(toggle->property("checked").toBool());
        act("toggle", QAccessibleActionInterface::pressAction());
        QVERIFY(!toggle->property("checked").toBool());
        QCOMPARE(toggled.count(), 2);
        QCOMPARE(QAccessible::queryAccessibleInterface(toggle)->text(QAccessible::Name),
                 QStringLiteral("Verbose"));
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
