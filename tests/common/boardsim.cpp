#include "boardsim.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace qvota::test {

namespace {

constexpr int READY_TIMEOUT_MS = 10000;
constexpr int STOP_TIMEOUT_MS = 10000;
const QString READY_PREFIX = QStringLiteral("qvota-board-sim: serving ");

} // namespace

BoardSim::BoardSim(const QString &executable)
    : m_executable(executable)
{
    // The simulator's log goes to a file rather than a pipe: nobody has to drain it while a
    // test blocks on a link, and a chatty run can never stall the simulator on a full pipe.
    m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("stderr.log")));
}

BoardSim::~BoardSim()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(STOP_TIMEOUT_MS)) {
        m_process.kill();
        m_process.waitForFinished(STOP_TIMEOUT_MS);
    }
}

bool BoardSim::startUdp(const QStringList &extraArgs)
{
    if (!start(QStringList{QStringLiteral("--udp"), QStringLiteral("127.0.0.1:0")} + extraArgs))
        return false;
    const QString address = m_readyLine.mid(READY_PREFIX.size());
    if (!address.startsWith(QLatin1String("udp ")))
        return false;
    bool ok = false;
    m_udpPort = address.section(QLatin1Char(':'), -1).toUShort(&ok);
    return ok && m_udpPort != 0;
}

bool BoardSim::startPty(const QStringList &extraArgs)
{
    if (!start(QStringList{QStringLiteral("--pty")} + extraArgs))
        return false;
    const QString rest = m_readyLine.mid(READY_PREFIX.size());
    if (!rest.startsWith(QLatin1String("pty ")))
        return false;
    m_ptyPath = rest.mid(4);
    return !m_ptyPath.isEmpty();
}

bool BoardSim::start(const QStringList &serveArgs)
{
    if (!m_dir.isValid() || m_process.state() != QProcess::NotRunning)
        return false;
    const QStringList args =
        QStringList{QStringLiteral("serve")} + serveArgs
        + QStringList{QStringLiteral("--record"), m_dir.filePath(QStringLiteral("record.json"))};
    m_process.setProgram(m_executable);
    m_process.setArguments(args);
    m_process.setReadChannel(QProcess::StandardOutput);
    m_process.start();
    if (!m_process.waitForStarted(READY_TIMEOUT_MS))
        return false;

    QDeadlineTimer deadline(READY_TIMEOUT_MS);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    m_readyLine = QString::fromUtf8(m_process.readLine()).trimmed();
    return m_readyLine.startsWith(READY_PREFIX);
}

quint16 BoardSim::udpPort() const
{
    return m_udpPort;
}

QString BoardSim::ptyPath() const
{
    return m_ptyPath;
}

QString BoardSim::readyLine() const
{
    return m_readyLine;
}

bool BoardSim::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool BoardSim::exitedCleanly() const
{
    return m_exitedCleanly;
}

QJsonObject BoardSim::stop()
{
    m_exitedCleanly = false;
    if (m_process.state() == QProcess::NotRunning)
        return {};
    m_process.terminate();
    if (!m_process.waitForFinished(STOP_TIMEOUT_MS)) {
        m_process.kill();
        m_process.waitForFinished(STOP_TIMEOUT_MS);
        return {};
    }
    m_exitedCleanly = m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;

    QFile file(m_dir.filePath(QStringLiteral("record.json")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString BoardSim::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("stderr.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QByteArray pack_with_sim(const QByteArray &plain, const QString &executable)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return {};
    const QString in = dir.filePath(QStringLiteral("plain.bin"));
    const QString out = dir.filePath(QStringLiteral("packed.qvbit"));
    QFile inFile(in);
    if (!inFile.open(QIODevice::WriteOnly) || inFile.write(plain) != plain.size())
        return {};
    inFile.close();

    QProcess process;
    process.start(executable, {QStringLiteral("pack"), in, out});
    if (!process.waitForFinished(READY_TIMEOUT_MS) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return {};
    QFile outFile(out);
    if (!outFile.open(QIODevice::ReadOnly))
        return {};
    return outFile.readAll();
}

QList<int> record_ints(const QJsonObject &record, const QString &key)
{
    QList<int> list;
    for (const QJsonValue &value : record.value(key).toArray())
        list.append(value.toInt());
    return list;
}

QList<int> index_range(int count)
{
    QList<int> list;
    for (int i = 0; i < count; ++i)
        list.append(i);
    return list;
}

} // namespace qvota::test
