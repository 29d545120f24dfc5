#include "probe.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace qvota::cli {

namespace {

// Long enough for a board behind a paced UART or a busy network, short enough that a slot
// notices a new board within two seconds.
constexpr int ANSWER_MS = 800;

// When /dev last had a node added or removed; empty where that cannot be told.
QString device_folder_stamp()
{
#ifdef Q_OS_LINUX
    struct stat folder{};
    if (::stat("/dev", &folder) == 0)
        return QString::number(folder.st_mtim.tv_sec) + QLatin1Char('.')
            + QString::number(folder.st_mtim.tv_nsec);
#endif
    return {};
}

} // namespace

QList<PortInfo> PortListing::now()
{
    const QMutexLocker lock(&m_mutex);
    const QString stamp = device_folder_stamp();
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

Presence probe(const BoardSpec &spec, const std::atomic_bool *cancel, PortListing &ports,
               BoardPlace *place, QString *identity)
{
    if (spec.serial && spec.serialNumber.isEmpty() && !QFileInfo::exists(spec.device))
        return Presence::Removed;
    // Only a serial number needs the listing to find its port.
    *place = locate(spec, spec.serialNumber.isEmpty() ? QList<PortInfo>() : ports.now());
    if (!place->error.isEmpty())
        return Presence::Removed;
    *identity = spec.serial ? device_identity(place->link.portName) : QString();

    const std::unique_ptr<Link> link = make_link(place->link);
    link->setCancelFlag(cancel);
    if (!link->open(nullptr))
        return Presence::Silent;
    link->clearInput();
    bool answered = false;
    if (link->write(QByteArrayLiteral("j"))) {
        const QDeadlineTimer deadline(ANSWER_MS);
        QString line;
        // A board may print boot lines before its JEDEC line.
        while (!answered && !deadline.hasExpired() && !(cancel && cancel->load())) {
            if (link->readLine(int(std::max<qint64>(1, deadline.remainingTime())), line))
                answered = line.startsWith(QLatin1String("JEDEC="));
        }
    }
    link->close();
    return answered ? Presence::Answers : Presence::Silent;
}

} // namespace qvota::cli
