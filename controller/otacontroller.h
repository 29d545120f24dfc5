// The one object the window talks to: it runs an update on a worker thread and reports log
// lines, progress, status and the result as signals on the GUI thread; it also lists serial
// ports, host addresses, drives and folders for the window.
#pragma once

#include "expected.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <memory>

class QThread;

namespace qvota {

class OtaController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(int progressDone READ progressDone NOTIFY progressChanged)
    Q_PROPERTY(int progressTotal READ progressTotal NOTIFY progressChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusChanged)

public:
    explicit OtaController(QObject *parent = nullptr);
    // Requests cancellation and joins a running worker, which ends every wait within about
    // 100 ms. Posts not yet delivered die with the object.
    ~OtaController() override;

    bool running() const { return m_running; }
    int progressDone() const { return m_progressDone; }
    int progressTotal() const { return m_progressTotal; }
    QString statusText() const { return m_statusText; }

    // The declaration order of the invokables fixes their method indices, which QML relies on;
    // they must stay invokables, not slots, since moc puts slots ahead of invokables.

    // "name - description" (or the bare name), sorted. Cheap to call every second: the system
    // is asked again only when a device came or went (on Linux; elsewhere every time).
    Q_INVOKABLE QStringList serialPorts() const;
    // "interface - a.b.c.d" for the IPv4 addresses of interfaces that are up, running and not
    // loopback, sorted.
    Q_INVOKABLE QStringList hostAddresses() const;
    Q_INVOKABLE QStringList browseDrives() const;
    Q_INVOKABLE QVariantMap browseListDir(const QString &path, const QVariantList &filters) const;
    Q_INVOKABLE QVariantMap browseCreateDir(const QString &path, const QString &baseName) const;
    // Begins one run and returns at once; ignored while a run is active. The outcome arrives
    // as otaFinished.
    Q_INVOKABLE void start(const QVariantMap &cfg);
    // Ends whatever the run waits for within about 100 ms, as an ordinary failed finish (after a
    // verified write it only cuts the warm boot short). Emits nothing itself.
    Q_INVOKABLE void cancel();
    Q_INVOKABLE void clearLog();
    Q_INVOKABLE QVariantMap browseRenameDir(const QString &path, const QString &newName) const;
    // The image field's summary: the container's numbers or the reason a run would refuse it,
    // from the file's header and size only.
    Q_INVOKABLE QVariantMap imageSummary(const QString &path) const;
    // Writes the shown log lines to path atomically; returns why it failed, empty on success.
    Q_INVOKABLE QString saveLog(const QString &path, const QStringList &lines) const;
    // The save picker's listing (every file, whatever the filters) and its question whether a
    // name is taken, hidden entries included.
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
    // Called on the worker thread (postFinish also by start when no worker can be made); each
    // queues one call that runs on the GUI thread, in the order posted.
    void postLog(const QString &message);
    void postProgress(int done, int total);
    void postStatus(const QString &status);
    void postFinish(const Expected<void> &result);

    void finish(const Expected<void> &result);

    // A QThread rather than a plain one: the links' sockets need the event dispatcher that
    // QThread gives its threads, even though the worker runs no event loop.
    std::unique_ptr<QThread> m_worker;
    // The only datum both threads touch: the flow polls it through OtaCallbacks::cancel.
    std::atomic_bool m_cancelRequested{false};
    bool m_running = false;
    int m_progressDone = 0;
    int m_progressTotal = 0;
    QString m_statusText;
    // The last port list, and the device folder's stamp when it was taken (empty: take again).
    mutable QStringList m_serialPorts;
    mutable QString m_serialPortsStamp;
};

} // namespace qvota
