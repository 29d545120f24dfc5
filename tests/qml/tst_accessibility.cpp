// Screen readers reach the window through the platform accessibility layer: the press and
// toggle actions must do what a click does, and the tree must hold what the window shows.
#include "window.h"

#include <QAccessible>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(QuelvaneOtaStudioPlugin)

class TestAccessibility : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;
    QQmlApplicationEngine *m_engine = nullptr;
    QObject *m_window = nullptr;

    QQuickItem *item(const char *name) const
    {
        return m_window->findChild<QQuickItem *>(QLatin1String(name));
    }

    // Visits what a screen reader can reach from iface, as it walks the tree.
    template<typename Visit>
    static void reachable(QAccessibleInterface *iface, const Visit &visit)
    {
        for (int i = 0; iface && i < iface->childCount(); ++i) {
            visit(iface->child(i));
            reachable(iface->child(i), visit);
        }
    }

    // The names a screen reader finds showing under an item.
    static QStringList shownNames(QQuickItem *item)
    {
        QStringList names;
        reachable(QAccessible::queryAccessibleInterface(item), [&](QAccessibleInterface *iface) {
            if (!iface->state().invisible && !iface->text(QAccessible::Name).isEmpty())
                names.append(iface->text(QAccessible::Name));
        });
        return names;
    }

private slots:
    void initTestCase()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        // The window's settings stay away from the user's.
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
        QCoreApplication::setOrganizationName(QStringLiteral("Quelvane"));
        QCoreApplication::setApplicationName(QStringLiteral("Quelvane OTA Studio"));
        QSettings().setValue(QStringLiteral("ui/language"), QStringLiteral("en"));
        m_engine = new QQmlApplicationEngine(this);
        m_engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        qvota::publish_window_context(*m_engine);
        m_engine->load(QUrl(QStringLiteral("qrc:/qt/qml/QuelvaneOtaStudio/Main.qml")));
        QVERIFY(!m_engine->rootObjects().isEmpty());
        m_window = m_engine->rootObjects().first();
        QVERIFY(QTest::qWaitForWindowExposed(qobject_cast<QWindow *>(m_window)));
    }

    // Captioned selectors are named by their caption and offer the shown text as a child; the
    // progress bar is named as such and has a value.
    void namesAndValues()
    {
        const auto check = [&](const char *name, const QString &caption, const QString &shown) {
            QCOMPARE(QAccessible::queryAccessibleInterface(item(name))->text(QAccessible::Name),
                     caption);
            QVERIFY2(shownNames(item(name)).contains(shown), name);
        };
        check("transportCombo", QStringLiteral("TRANSPORT"), QStringLiteral("UART Serial (APP1)"));
        check("targetCombo", QStringLiteral("OPTIONS"), QStringLiteral("Warm boot to APP2"));
        check("languageCombo", QStringLiteral("Language"), QStringLiteral("English"));
        check("themeCombo", QStringLiteral("Theme"), QStringLiteral("Abyss Black"));

        QAccessibleInterface *progress =
            QAccessible::queryAccessibleInterface(item("progressTrack"));
        QCOMPARE(progress->role(), QAccessible::ProgressBar);
        QCOMPARE(progress->text(QAccessible::Name), QStringLiteral("Progress"));
        QCOMPARE(progress->text(QAccessible::Description), QStringLiteral("--"));
    }

    // Rows that the log pools after Clear Log, or keeps beyond its edges, are not read out.
    void logRowsLeaveWithTheirLines()
    {
        QObject *controller =
            m_engine->rootContext()->contextProperty(QStringLiteral("ui")).value<QObject *>();
        QQuickItem *logView = item("logView");
        for (int i = 0; i < 300; ++i)
            QMetaObject::invokeMethod(controller, "logAppended",
                                      Q_ARG(QString, QString::number(i)));
        QTRY_COMPARE(logView->property("count").toInt(), 300);
        QTRY_VERIFY(shownNames(logView).contains(QStringLiteral("299")));
        QVERIFY(!shownNames(logView).contains(QStringLiteral("0")));

        QMetaObject::invokeMethod(controller, "clearLog");
        QTRY_COMPARE(logView->property("count").toInt(), 0);
        QTRY_COMPARE(shownNames(logView), QStringList());
        QMetaObject::invokeMethod(controller, "logAppended", Q_ARG(QString, QStringLiteral("new")));
        QTRY_COMPARE(shownNames(logView), QStringList{QStringLiteral("new")});
    }

    // An open selector offers only rows inside its popup, the current one among them.
    void popupRowsStayInsideThePopup()
    {
        QQuickItem *combo = item("themeCombo");
        combo->setProperty("currentIndex", 8);
        QObject *popup = combo->property("popup").value<QObject *>();
        QMetaObject::invokeMethod(popup, "open");
        QTRY_VERIFY(popup->property("opened").toBool());
        auto *list = popup->property("contentItem").value<QQuickItem *>();
        const QQuickItem *rows = list->property("contentItem").value<QQuickItem *>();
        const QRect inside(list->mapToGlobal(QPointF(0, 0)).toPoint(), list->size().toSize());
        QStringList offered;
        reachable(QAccessible::queryAccessibleInterface(m_window), [&](QAccessibleInterface *iface) {
            const auto *row = qobject_cast<QQuickItem *>(iface->object());
            if (row && row->parentItem() == rows) {
                offered.append(iface->text(QAccessible::Name));
                QVERIFY2(iface->rect().top() >= inside.top()
                             && iface->rect().bottom() <= inside.bottom(),
                         qPrintable(offered.last()));
            }
        });
        QVERIFY2(offered.contains(QStringLiteral("Light")), qPrintable(offered.join(u',')));
        QVERIFY(offered.size() < 9);
        QMetaObject::invokeMethod(popup, "close");
    }

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
