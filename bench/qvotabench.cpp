// The production-line figures of qvota: eight boards on simulator ptys paced like a 115200
// baud UART against one board alone (wall time, qvota's CPU share, its peak memory), and
// eight boards over UDP on 127.0.0.1 against one (aggregate rate). Expects qvota and
// qvota-board-sim where the build put them.
#include "boardsim.h"
#include "testimages.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QProcess>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

extern char **environ;

namespace {

using qvota::test::BoardSim;

constexpr int BOARDS = 8;

struct Run
{
    bool ok = false;
    int verified = 0;
    qint64 bytes = 0;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double maxRssMb = 0;
};

double seconds(const timeval &t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Runs qvota flash with JSON output into outPath, waited for with wait4 so its own CPU time and
// peak memory come back exactly, without the simulators'.
Run run_qvota(const QString &image, const QStringList &boards, const QString &outPath)
{
    QList<QByteArray> args{QByteArrayLiteral(QVOTA_EXE), "flash", QFile::encodeName(image),
                           "--json"};
    for (const QString &board : boards)
        args << "--board" << board.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = QFile::encodeName(outPath);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    pid_t pid = 0;
    const double start = now();
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.wallSeconds = now() - start;
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.maxRssMb = double(usage.ru_maxrss) / 1024.0;

    QFile file(outPath);
    if (!file.open(QIODevice::ReadOnly))
        return run;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.value(QStringLiteral("event")).toString() == QLatin1String("result")
            && object.value(QStringLiteral("outcome")).toString() == QLatin1String("verified")) {
            ++run.verified;
            run.bytes += object.value(QStringLiteral("bytes")).toInteger();
        }
    }
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && run.verified == boards.size();
    return run;
}

// Starts count simulators and returns their SPECs; empty when one did not start.
QStringList start_boards(std::vector<std::unique_ptr<BoardSim>> &sims, int count, bool udp)
{
    QStringList specs;
    for (int i = 0; i < count; ++i) {
        auto sim = std::make_unique<BoardSim>();
        const bool started = udp ? sim->startUdp()
                                 : sim->startPty({QStringLiteral("--baud"), QStringLiteral("115200")});
        if (!started)
            return {};
        specs << (udp ? QStringLiteral("udp:127.0.0.1:%1").arg(sim->udpPort())
                      : QStringLiteral("uart:%1").arg(sim->ptyPath()));
        sims.push_back(std::move(sim));
    }
    return specs;
}

// User and system CPU ticks of a process so far, from /proc; -1 when it cannot be read.
qint64 cpu_ticks(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // The command name in parentheses may hold blanks; the fields after it are plain.
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

QString verdict(bool within)
{
    return within ? QStringLiteral("ok") : QStringLiteral("OVER");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QTextStream out(stdout);
    const QString ptyImage = qvota::test::write_file(
        dir, QStringLiteral("pty.qvbit"),
        qvota::test::pack_with_sim(qvota::test::pattern_bytes(128 * 1024 - 36, 3),
                                   QStringLiteral(QVOTA_SIM_EXE)));
    const QString udpImage = qvota::test::write_file(
        dir, QStringLiteral("udp.qvbit"),
        qvota::test::pack_with_sim(qvota::test::pattern_bytes(0x200000 - 36, 4),
                                   QStringLiteral(QVOTA_SIM_EXE)));
    if (ptyImage.isEmpty() || udpImage.isEmpty()) {
        out << "could not pack the images\n";
        return 1;
    }
    const QString json = dir.filePath(QStringLiteral("run.jsonl"));
    bool allVerified = true;

    {
        std::vector<std::unique_ptr<BoardSim>> sims;
        const QStringList specs = start_boards(sims, BOARDS, false);
        if (specs.isEmpty()) {
            out << "the pty simulators did not start\n";
            return 1;
        }
        const Run one = run_qvota(ptyImage, specs.mid(0, 1), json);
        const Run eight = run_qvota(ptyImage, specs, json);
        allVerified = allVerified && one.ok && eight.ok;
        const double ratio = one.wallSeconds > 0 ? eight.wallSeconds / one.wallSeconds : 0;
        const double cpu = eight.wallSeconds > 0 ? 100.0 * eight.cpuSeconds / eight.wallSeconds : 0;
        out << "qvota: 8 boards on ptys paced at 115200 baud, 128 KiB image\n"
            << QStringLiteral("  one board alone: wall %1 s, qvota CPU %2 % of one core, max RSS %3 MB, %4/1 verified\n")
                   .arg(QString::number(one.wallSeconds, 'f', 2),
                        QString::number(100.0 * one.cpuSeconds / std::max(one.wallSeconds, 1e-9), 'f', 2),
                        QString::number(one.maxRssMb, 'f', 1), QString::number(one.verified))
            << QStringLiteral("  eight boards:    wall %1 s = %2x one board (limit 1.10x: %3)\n")
                   .arg(QString::number(eight.wallSeconds, 'f', 2), QString::number(ratio, 'f', 3),
                        verdict(ratio <= 1.10))
            << QStringLiteral("                   qvota CPU %1 % of one core (limit 3 %: %2), max RSS %3 MB (limit 60 MB: %4), %5/8 verified\n")
                   .arg(QString::number(cpu, 'f', 2), verdict(cpu <= 3.0),
                        QString::number(eight.maxRssMb, 'f', 1), verdict(eight.maxRssMb <= 60.0),
                        QString::number(eight.verified));
        out.flush();
    }
    {
        std::vector<std::unique_ptr<BoardSim>> sims;
        const QStringList specs = start_boards(sims, BOARDS, true);
        if (specs.isEmpty()) {
            out << "the UDP simulators did not start\n";
            return 1;
        }
        const Run one = run_qvota(udpImage, specs.mid(0, 1), json);
        const Run eight = run_qvota(udpImage, specs, json);
        allVerified = allVerified && one.ok && eight.ok;
        const double oneRate = one.wallSeconds > 0 ? double(one.bytes) / one.wallSeconds : 0;
        const double allRate = eight.wallSeconds > 0 ? double(eight.bytes) / eight.wallSeconds : 0;
        const double ratio = oneRate > 0 ? allRate / oneRate : 0;
        out << "qvota: 8 boards over UDP on 127.0.0.1, 2 MiB image\n"
            << QStringLiteral("  one board alone: %1 MB/s (wall %2 s), %3/1 verified\n")
                   .arg(QString::number(oneRate / 1e6, 'f', 2),
                        QString::number(one.wallSeconds, 'f', 2), QString::number(one.verified))
            << QStringLiteral("  eight boards:    %1 MB/s aggregate (wall %2 s) = %3x one board (want >= 1.5x: %4), %5/8 verified\n")
                   .arg(QString::number(allRate / 1e6, 'f', 2),
                        QString::number(eight.wallSeconds, 'f', 2), QString::number(ratio, 'f', 2),
                        verdict(ratio >= 1.5), QString::number(eight.verified));
    }
    {
        // A station's idle cost: eight slots, four with a board that has been updated and
        // still answers (the slot waits for it to go), four where nothing answers.
        std::vector<std::unique_ptr<BoardSim>> sims;
        QStringList specs = start_boards(sims, BOARDS / 2, false);
        for (int port = 9; port < 9 + BOARDS / 2; ++port)
            specs << QStringLiteral("udp:127.0.0.1:%1").arg(port);
        QStringList arguments{QStringLiteral("station"), ptyImage, QStringLiteral("--no-history")};
        for (const QString &spec : std::as_const(specs))
            arguments << QStringLiteral("--board") << spec;
        QProcess station;
        station.setStandardOutputFile(QProcess::nullDevice());
        station.setStandardErrorFile(QProcess::nullDevice());
        station.start(QStringLiteral(QVOTA_EXE), arguments);
        // The four paced updates take about 12 s; then the station only probes.
        QThread::sleep(20);
        const long ticksPerSecond = sysconf(_SC_CLK_TCK);
        const qint64 before = cpu_ticks(station.processId());
        constexpr int IDLE_SECONDS = 30;
        QThread::sleep(IDLE_SECONDS);
        const qint64 after = cpu_ticks(station.processId());
        station.terminate();
        station.waitForFinished(5000);
        const bool measured = before >= 0 && after >= before;
        const double cpu = measured
            ? 100.0 * double(after - before) / double(ticksPerSecond) / IDLE_SECONDS
            : -1;
        out << "qvota station: 8 slots idle (4 updated boards still answering, 4 silent)\n"
            << QStringLiteral("  CPU %1 % of one core over %2 s (limit 1 %: %3)\n")
                   .arg(QString::number(cpu, 'f', 2), QString::number(IDLE_SECONDS),
                        verdict(measured && cpu < 1.0));
    }
    out << "Wall times are whole qvota runs (start to exit); rates are verified payload bytes over "
           "that wall time; CPU and RSS are qvota's own (wait4), without the simulators'.\n";
    return allVerified ? 0 : 1;
}
