#include "i18nmanager.h"

#include <QCoreApplication>
#include <QQmlEngine>
#include <QtDebug>

I18nManager::I18nManager(QQmlEngine *engine)
    : QObject(engine)
    , m_engine(engine)
{}

void I18nManager::setLanguage(const QString &language)
{
    // Removed first on every call, so repeating a code never installs the translator twice.
    QCoreApplication::removeTranslator(&m_translator);
    if (!language.isEmpty() && language != QLatin1String("en")) {
        if (m_translator.load(QStringLiteral(":/i18n/quelvane_ota_") + language
                              + QStringLiteral(".qm")))
            QCoreApplication::installTranslator(&m_translator);
        else
            qWarning().noquote()
                << QStringLiteral(
                       "i18n: translation missing for \"%1\" -- source strings stay visible")
                       .arg(language);
    }
    // Also after "en" and after a failure, so that switching back takes effect at once.
    if (m_engine)
        m_engine->retranslate();
}
