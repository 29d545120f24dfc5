// Switches the window's language at run time: one translator, loaded from the compiled-in
// catalogues and installed in the application, and a retranslation of the QML engine.
#pragma once

#include <QObject>
#include <QString>
#include <QTranslator>

class QQmlEngine;

class I18nManager : public QObject
{
    Q_OBJECT

public:
    // The engine is both the parent and the engine to retranslate; with none, nothing is
    // retranslated.
    explicit I18nManager(QQmlEngine *engine);

    // "en" or "" shows the source texts; any other code loads ":/i18n/quelvane_ota_<code>.qm",
    // where Qt's file search also accepts longer codes such as "zh_CN.utf8". A missing
    // catalogue warns once and leaves the source texts.
    Q_INVOKABLE void setLanguage(const QString &language);

private:
    QQmlEngine *m_engine;
    // Declared after m_engine and with no parent: its destructor takes it out of the
    // application, so it is never left installed behind a dead manager.
    QTranslator m_translator;
};
