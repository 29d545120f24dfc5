// A stand-in for the controller that records what the window asks of it and lets a test play
// the controller's part: its properties are writable and its signals can be emitted from QML.
// The file operations are the real ones, so the image summary and Save Log behave as shipped.
#pragma once

#include <QJSValue>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class FakeController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool running MEMBER m_running NOTIFY runningChanged)
    Q_PROPERTY(int progressDone MEMBER m_progressDone NOTIFY progressChanged)
    Q_PROPERTY(int progressTotal MEMBER m_progressTotal NOTIFY progressChanged)
    Q_PROPERTY(QString statusText MEMBER m_statusText NOTIFY statusChanged)
    // What serialPorts() and hostAddresses() return.
    Q_PROPERTY(QStringList ports MEMBER m_ports)
    Q_PROPERTY(QStringList hosts MEMBER m_hosts)
    // The key order and the values of the last configuration given to start().
    Q_PROPERTY(QStringList lastKeys MEMBER m_lastKeys)
    Q_PROPERTY(QVariantMap lastConfig MEMBER m_lastConfig)
    Q_PROPERTY(int starts MEMBER m_starts)
    Q_PROPERTY(int cancels MEMBER m_cancels)
    // The lines of the last saveLog call.
    Q_PROPERTY(QStringList savedLines MEMBER m_savedLines)

public:
    using QObject::QObject;

    Q_INVOKABLE QStringList serialPorts() const { return m_ports; }
    Q_INVOKABLE QStringList hostAddresses() const { return m_hosts; }
    Q_INVOKABLE QStringList browseDrives() const;
    Q_INVOKABLE QVariantMap browseListDir(const QString &path, const QVariantList &filters) const;
    Q_INVOKABLE QVariantMap browseCreateDir(const QString &path, const QString &baseName) const;
    // A script value rather than a map, so the order of the keys survives.
    Q_INVOKABLE void start(const QJSValue &cfg);
    Q_INVOKABLE void cancel() { ++m_cancels; }
    Q_INVOKABLE void clearLog() { emit logCleared(); }
    Q_INVOKABLE QVariantMap browseRenameDir(const QString &path, const QString &newName) const;
    Q_INVOKABLE QVariantMap imageSummary(const QString &path) const;
    Q_INVOKABLE QString saveLog(const QString &path, const QStringList &lines);
    Q_INVOKABLE QVariantMap browseListAll(const QString &path) const;
    Q_INVOKABLE bool browseExists(const QString &path) const;

signals:
    void logAppended(const QString &line);
    void logCleared();
    void runningChanged();
    void progressChanged();
    void statusChanged();
    void otaFinished(bool ok, const QString &message);

private:
    bool m_running = false;
    int m_progressDone = 0;
    int m_progressTotal = 0;
    QString m_statusText;
    QStringList m_ports;
    QStringList m_hosts;
    QStringList m_lastKeys;
    QVariantMap m_lastConfig;
    int m_starts = 0;
    int m_cancels = 0;
    QStringList m_savedLines;
};
