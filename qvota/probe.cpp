#include "probe.h"

#include "otaflow.h"
#include "seriallink.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <algorithm>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace qvota::cli {

namespace {

// A board's update firmware answers "j" within milliseconds, also behind a paced UART or a busy
// network; a silent slot waits this long each second.
constexpr int ANSWER_MS = 500;

// Whether a named serial device is there at all. Windows has no device files to look at.
bool device_present(const QString &device, PortListing &ports)
{
#ifdef Q_OS_WIN
    const QList<PortInfo> listed = ports.now();
    return std::any_of(listed.cbegin(), listed.cend(), [&](const PortInfo &port) {
        return port.location.compare(device, Qt::CaseInsensitive) == 0;
    });
#else
    Q_UNUSED(ports);
    return QFileInfo::exists(device);
#endif
}

} // namespace

QList<PortInfo> PortListing::now()
{
    const QMutexLocker lock(&m_mutex);
    const QString stamp = serial_devices_stamp();
    if (stamp.isEmpty() || stamp != m_stamp) {
        m_ports = available_ports();
        m_stamp = stamp;
    }
    return m_ports;
}

QString device_identity(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return {};
#else
    // The name itself (a symbolic link such as /dev/serial/by-id/...) and the node it leads to.
    const QByteArray name = QFile::encodeName(path);
    struct stat link{};
    struct stat node{};
    if (::lstat(name.constData(), &link) != 0 || ::stat(name.constData(), &node) != 0)
        return {};
    const auto text = [](const struct stat &s) {
        return QStringLiteral("%1.%2.%3.%4")
            .arg(QString::number(s.st_dev), QString::number(s.st_ino),
                 QString::number(s.st_ctim.tv_sec), QString::number(s.st_ctim.tv_nsec));
    };
    return text(link) + QLatin1Char('/') + text(node);
#endif
}

SlotProbe::SlotProbe(const BoardSpec &spec, PortListing &ports, const std::atomic_bool *cancel)
    : m_spec(spec)
    , m_ports(ports)
    , m_cancel(cancel)
{}

void SlotProbe::release()
{
    if (m_link)
        m_link->close();
    m_link.reset();
    m_openedFor.clear();
}

Presence SlotProbe::look(BoardPlace *place, QString *identity)
{
    if (m_spec.serial && m_spec.serialNumber.isEmpty() && !device_present(m_spec.device, m_ports)) {
        release();
        return Presence::Removed;
    }
    // Only a serial number needs the listing to find its port.
    const Expected<BoardPlace> located =
        locate(m_spec, m_spec.serialNumber.isEmpty() ? QList<PortInfo>() : m_ports.now());
    if (!located) {
        release();
        return Presence::Removed;
    }
    *place = *located;
    *identity = m_spec.serial ? device_identity(place->link.portName) : QString();

    // A serial number that moved to another port, or a device that went and came back, needs
    // the link opened afresh.
    const QString openFor = place->port + QLatin1Char(' ') + *identity;
    if (m_link && (openFor != m_openedFor || !m_link->failure().isEmpty()))
        release();
    if (!m_link) {
        m_link = make_link(place->link);
        m_link->setCancelFlag(m_cancel);
        if (!m_link->open()) {
            m_link.reset();
            return Presence::Silent;
        }
        m_openedFor = openFor;
    }

    m_link->clearInput();
    bool answered = false;
    if (m_link->write(QByteArrayLiteral("j"))) {
        const QDeadlineTimer deadline(ANSWER_MS);
        QString line;
        // A board may print boot lines before its JEDEC line; over UDP they may come joined.
        while (!answered && !deadline.hasExpired() && !(m_cancel && m_cancel->load())) {
            if (m_link->readLine(int(std::max<qint64>(1, deadline.remainingTime())), line))
                answered = has_jedec_reply(line);
            else if (!m_link->failure().isEmpty())
                break;
        }
    }
    if (!m_link->failure().isEmpty()) {
        // The device went away under the open port: removed, not merely silent.
        release();
        return Presence::Removed;
    }
    return answered ? Presence::Answers : Presence::Silent;
}

} // namespace qvota::cli
