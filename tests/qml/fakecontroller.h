// A stand-in for the controller that records what the window asks of it and lets a test play
// the controller's part: it emits the controller's signals from QML and sets its state through
// test-only members. The file operations are the real ones, so the image summary and Save Log
// behave as shipped.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class FakeController : public QObject
{
    Q_OBJECT
    // The controller's own, as it has them: read-only.
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(int progressDone READ progressDone NOTIFY progressChanged)
    Q_PROPERTY(int progressTotal READ progressTotal NOTIFY progressChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusChanged)

    // Test-only members begin with "fake"; the comparison with the controller leaves them out.
    // The controller's state as a test sets it.
    Q_PROPERTY(bool fakeRunning READ running WRITE setFakeRunning NOTIFY runningChanged)
    Q_PROPERTY(int fakeProgressDone READ progressDone WRITE setFakeProgressDone NOTIFY progressChanged)
    Q_PROPERTY(int fakeProgressTotal READ progressTotal WRITE setFakeProgressTotal NOTIFY progressChanged)
    // What serialPorts() and hostAddresses() return.
    Q_PROPERTY(QStringList fakePorts MEMBER m_ports)
    Q_PROPERTY(QStringList fakeHosts MEMBER m_hosts)
    // The configuration of the last start() and the lines of the last saveLog().
    Q_PROPERTY(QVariantMap fakeLastConfig MEMBER m_lastConfig)
    Q_PROPERTY(QStringList fakeSavedLines MEMBER m_savedLines)

public:
    using QObject::QObject;

    bool running() const { return m_running; }
    int progressDone() const { return m_progressDone; }
    int progressTotal() const { return m_progressTotal; }
    QString statusText() const { return m_statusText; }

    void setFakeRunning(bool running);
    void setFakeProgressDone(int done);
    void setFakeProgressTotal(int total);

    Q_INVOKABLE QStringList serialPorts() const { return m_ports; }
    Q_INVOKABLE QStringList hostAddresses() const { return m_hosts; }
    Q_INVOKABLE QStringList browseDrives() const;
    Q_INVOKABLE QVariantMap browseListDir(const QString &path, const QVariantList &filters) const;
    Q_INVOKABLE QVariantMap browseCreateDir(const QString &path, const QString &baseName) const;
    Q_INVOKABLE void start(const QVariantMap &cfg) { m_lastConfig = cfg; }
    Q_INVOKABLE void cancel() {}
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
    QVariantMap m_lastConfig;
    QStringList m_savedLines;
};

// What QML sees of a type's own members (beyond QObject's), one line each, in the meta-object's
// order: properties with their type, whether they can be written and their signal; signals and
// invokables with their result, argument types and names. Members whose name begins with
// skipPrefix are left out.
QStringList qml_interface(const QMetaObject &type, const QString &skipPrefix = {});
