// Runs complete command-line updates against the board simulator and reports, per case, the
// transfer rate the tool itself logged, its ratio to what the wire allows, and the CPU time the
// tool's process used. Expects QuelvaneOtaStudio and qvota-board-sim beside it.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <cstdio>
#include <optional>

namespace {

struct Case
{
    QString name;
    bool udp;
    int baud;          // serial only
    qint64 plainBytes; // packed into a container of plainBytes + 36
};

struct Outcome
{
    bool ok = false;
    double bytesPerSecond = 0;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    QString detail;
};

double children_cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Each 256-byte frame costs 262 bytes on the wire plus the 1-byte ack, 10 bits per byte (8N1).
double wire_limit(int baud)
{
    return baud / 10.0 * 256.0 / 263.0;
}

class Simulator
{
public:
    ~Simulator()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }

    std::optional<QString> start(const QString &program, const QStringList &arguments)
    {
        m_process.start(program, QStringList{QStringLiteral("serve")} + arguments);
        if (!m_process.waitForStarted(5000))
            return std::nullopt;
        QElapsedTimer timer;
        timer.start();
        while (!m_process.canReadLine() && timer.elapsed() < 10000)
            m_process.waitForReadyRead(100);
        if (!m_process.canReadLine())
            return std::nullopt;
        return QString::fromLocal8Bit(m_process.readLine()).trimmed().section(QLatin1Char(' '), -1);
    }

private:
    QProcess m_process;
};

Outcome run_case(const Case &c, const QString &binDir, const QTemporaryDir &dir)
{
    Outcome outcome;
    const QString sim = binDir + QStringLiteral("/qvota-board-sim");
    const QString studio = binDir + QStringLiteral("/QuelvaneOtaStudio");

    const QString plainPath = dir.filePath(c.name + QStringLiteral(".bin"));
    const QString imagePath = dir.filePath(c.name + QStringLiteral(".qvbit"));
    QFile plain(plainPath);
    if (!plain.open(QIODevice::WriteOnly))
        return outcome;
    QByteArray bytes(c.plainBytes, Qt::Uninitialized);
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    plain.write(bytes);
    plain.close();
    QProcess pack;
    pack.setStandardOutputFile(QProcess::nullDevice());
    pack.start(sim, {QStringLiteral("pack"), plainPath, imagePath});
    if (!pack.waitForFinished(60000) || pack.exitCode() != 0) {
        outcome.detail = QStringLiteral("pack failed");
        return outcome;
    }

    Simulator simulator;
    QStringList hostArguments{QStringLiteral("--cli"), QStringLiteral("--file"), imagePath};
    if (c.udp) {
        const auto endpoint =
            simulator.start(sim, {QStringLiteral("--udp"), QStringLiteral("127.0.0.1:0")});
        if (!endpoint) {
            outcome.detail = QStringLiteral("simulator did not start");
            return outcome;
        }
        hostArguments << QStringLiteral("--transport") << QStringLiteral("udp")
                      << QStringLiteral("--ip") << QStringLiteral("127.0.0.1")
                      << QStringLiteral("--udp-port") << endpoint->section(QLatin1Char(':'), -1)
                      << QStringLiteral("--host-ip") << QStringLiteral("127.0.0.1")
                      << QStringLiteral("--host-port") << QStringLiteral("0");
    } else {
        const auto tty = simulator.start(
            sim, {QStringLiteral("--pty"), QStringLiteral("--baud"), QString::number(c.baud)});
        if (!tty) {
            outcome.detail = QStringLiteral("simulator did not start");
            return outcome;
        }
        hostArguments << QStringLiteral("--transport") << QStringLiteral("uart")
                      << QStringLiteral("--port") << *tty << QStringLiteral("--baud")
                      << QString::number(c.baud);
    }

    const double cpuBefore = children_cpu_seconds();
    QElapsedTimer wall;
    wall.start();
    QProcess host;
    host.start(studio, hostArguments);
    host.waitForFinished(-1);
    outcome.wallSeconds = wall.elapsed() / 1000.0;
    outcome.cpuSeconds = children_cpu_seconds() - cpuBefore;

    const QString transcript = QString::fromLocal8Bit(host.readAllStandardOutput());
    static const QRegularExpression done(
        QStringLiteral("transfer done in [0-9.]+s \\(([0-9]+) B/s\\)"));
    const QRegularExpressionMatch match = done.match(transcript);
    outcome.ok = host.exitCode() == 0 && match.hasMatch();
    outcome.bytesPerSecond = match.captured(1).toDouble();
    if (!outcome.ok)
        outcome.detail = transcript.section(QLatin1Char('\n'), -3).trimmed();
    return outcome;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString binDir = QCoreApplication::applicationDirPath();
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    const QList<Case> cases{
        {QStringLiteral("udp-loopback-2MiB"), true, 0, 0x200000 - 36},
        {QStringLiteral("pty-115200-256KiB"), false, 115200, 256 * 1024 - 36},
        {QStringLiteral("pty-921600-2MiB"), false, 921600, 0x200000 - 36},
    };

    QTextStream out(stdout);
    out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
               .arg(QStringLiteral("case"), -20)
               .arg(QStringLiteral("B/s"), 10)
               .arg(QStringLiteral("wire B/s"), 10)
               .arg(QStringLiteral("of wire"), 8)
               .arg(QStringLiteral("wall s"), 8)
               .arg(QStringLiteral("host CPU"), 9);
    out.flush();
    bool allOk = true;
    for (const Case &c : cases) {
        const Outcome o = run_case(c, binDir, dir);
        allOk = allOk && o.ok;
        const QString wire =
            c.udp ? QStringLiteral("-") : QString::number(wire_limit(c.baud), 'f', 0);
        const QString ratio =
            c.udp ? QStringLiteral("-")
                  : QString::number(100.0 * o.bytesPerSecond / wire_limit(c.baud), 'f', 1)
                        + QLatin1Char('%');
        const QString cpu =
            o.wallSeconds > 0
                ? QString::number(100.0 * o.cpuSeconds / o.wallSeconds, 'f', 1) + QLatin1Char('%')
                : QStringLiteral("-");
        out << QStringLiteral("%1 %2 %3 %4 %5 %6")
                   .arg(c.name, -20)
                   .arg(QString::number(o.bytesPerSecond, 'f', 0), 10)
                   .arg(wire, 10)
                   .arg(ratio, 8)
                   .arg(QString::number(o.wallSeconds, 'f', 1), 8)
                   .arg(cpu, 9);
        if (!o.ok)
            out << "  FAILED: " << o.detail;
        out << Qt::endl;
    }
    out << "B/s: the transfer rate the tool logged (payload bytes over the frame phase).\n"
           "host CPU: the tool's user+system CPU time over its whole run's wall time.\n";
    return allOk ? 0 : 1;
}
