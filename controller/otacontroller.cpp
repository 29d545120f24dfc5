#include "otacontroller.h"

#include "browse.h"
#include "imagesummary.h"
#include "logexport.h"
#include "runlines.h"
#include "seriallink.h"
#include "startconfig.h"
#include "updatejob.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QSerialPortInfo>
#include <QThread>

namespace qvota {

namespace {

QStringList list_serial_ports()
{
    QStringList entries;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
        const QString description = port.description();
        entries.append(description.isEmpty()
                           ? port.portName()
                           : port.portName() + QLatin1String(" - ") + description);
    }
    entries.sort(Qt::CaseSensitive);
    return entries;
}

} // namespace

OtaController::OtaController(QObject *parent)
    : QObject(parent)
{}

OtaController::~OtaController()
{
    m_cancelRequested.store(true);
    if (m_worker)
        m_worker->wait();
}

QStringList OtaController::serialPorts() const
{
    // The system's device database costs thousands of file opens a listing, and the window
    // asks every second; a device node that comes or goes changes the folder's stamp.
    const QString stamp = serial_devices_stamp();
    if (stamp.isEmpty() || stamp != m_serialPortsStamp) {
        m_serialPorts = list_serial_ports();
        m_serialPortsStamp = stamp;
    }
    return m_serialPorts;
}

QStringList OtaController::hostAddresses() const
{
    QStringList entries;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || !flags.testFlag(QNetworkInterface::IsRunning)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                entries.append(iface.humanReadableName() + QLatin1String(" - ")
                               + address.toString());
        }
    }
    entries.sort(Qt::CaseSensitive);
    return entries;
}

QStringList OtaController::browseDrives() const
{
    return browse_drives();
}

QVariantMap OtaController::browseListDir(const QString &path, const QVariantList &filters) const
{
    return browse_list_dir(path, filters);
}

QVariantMap OtaController::browseCreateDir(const QString &path, const QString &baseName) const
{
    return browse_create_dir(path, baseName);
}

QVariantMap OtaController::browseRenameDir(const QString &path, const QString &newName) const
{
    return browse_rename_dir(path, newName);
}

QVariantMap OtaController::imageSummary(const QString &path) const
{
    return inspect_image(path);
}

QString OtaController::saveLog(const QString &path, const QStringList &lines) const
{
    return save_log(path, lines);
}

void OtaController::start(const QVariantMap &cfg)
{
    if (m_running)
        return;
    // The previous worker has posted its finish (running is false), so this wait is short.
    if (m_worker) {
        m_worker->wait();
        m_worker.reset();
    }
    m_cancelRequested.store(false);
    m_progressDone = 0;
    m_progressTotal = 0;
    emit progressChanged();
    m_running = true;
    emit runningChanged();
    emit logCleared();
    // The job touches nothing of the controller: its callbacks only queue posts to it.
    m_worker.reset(QThread::create([this, cfg] {
        OtaCallbacks callbacks;
        callbacks.log = [this](const QString &line) { postLog(line); };
        callbacks.progress = [this](int done, int total) { postProgress(done, total); };
        // The link is open once the flow begins.
        callbacks.stage = [this](RunStage stage) {
            if (stage == RunStage::Identify)
                postStatus(QStringLiteral("running"));
        };
        callbacks.cancel = &m_cancelRequested;
        postFinish(run_update_job(cfg, callbacks));
    }));
    m_worker->start();
    // A thread the system refuses is neither running nor finished; QThread only says why in a
    // warning of its own.
    if (!m_worker->isRunning() && !m_worker->isFinished()) {
        m_worker.reset();
        // Queued like every other finish, so start still returns before the outcome arrives
        // and the signal order is that of a run that failed before opening its link.
        postFinish(Failure::refused(QStringLiteral("cannot start worker thread")));
    }
}

void OtaController::cancel()
{
    m_cancelRequested.store(true);
}

void OtaController::clearLog()
{
    emit logCleared();
}

void OtaController::postLog(const QString &message)
{
    // Stamped here, on the worker, so the time is that of the event, not of its delivery.
    const QString line = stamped(message);
    QMetaObject::invokeMethod(
        this, [this, line] { emit logAppended(line); }, Qt::QueuedConnection);
}

void OtaController::postProgress(int done, int total)
{
    QMetaObject::invokeMethod(
        this,
        [this, done, total] {
            m_progressDone = done;
            m_progressTotal = total;
            emit progressChanged();
        },
        Qt::QueuedConnection);
}

void OtaController::postStatus(const QString &status)
{
    QMetaObject::invokeMethod(
        this,
        [this, status] {
            m_statusText = status;
            emit statusChanged();
        },
        Qt::QueuedConnection);
}

void OtaController::postFinish(const Expected<void> &result)
{
    QMetaObject::invokeMethod(
        this, [this, result] { finish(result); }, Qt::QueuedConnection);
}

void OtaController::finish(const Expected<void> &result)
{
    m_running = false;
    m_statusText = result ? QStringLiteral("done") : QStringLiteral("failed");
    emit runningChanged();
    emit statusChanged();
    emit otaFinished(result.ok(), result ? QStringLiteral("OTA FLOW COMPLETE") : result.message());
}

} // namespace qvota

QVariantMap qvota::OtaController::browseListAll(const QString &path) const
{
    return list_save_folder(path);
}

bool qvota::OtaController::browseExists(const QString &path) const
{
    return save_target_exists(path);
}
