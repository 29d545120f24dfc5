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

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using qvota::test::BoardSim;

constexpr int BOARDS = 8;
// How often the station's page asks for /api/status.
constexpr int PAGE_POLL_MS = 400;

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

// Runs qvota with arguments and JSON output into outPath, waited for with wait4 so its own CPU
// time and peak memory come back exactly, without the simulators'. ok: exit 0 with boards results
// verified.
Run run_qvota_with(const QStringList &arguments, qsizetype boards, const QString &outPath)
{
    QList<QByteArray> args{QByteArrayLiteral(QVOTA_EXE)};
    for (const QString &argument : arguments)
        args << argument.toLocal8Bit();
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
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && run.verified == boards;
    return run;
}

// qvota flash with every board.
Run run_qvota(const QString &image, const QStringList &boards, const QString &outPath)
{
    QStringList arguments{QStringLiteral("flash"), image, QStringLiteral("--json")};
    for (const QString &board : boards)
        arguments << QStringLiteral("--board") << board;
    return run_qvota_with(arguments, boards.size(), outPath);
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

// A loopback port that nothing listens on now, for a station's --http: the clients must know it
// before qvota says it.
quint16 free_port()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// Clients of a station's HTTP side on 127.0.0.1, each on a thread of its own with one kept-open
// connection, as Prometheus and a browser keep theirs: every client asks for its path at its
// interval and notes how long each whole answer took.
class HttpLoad
{
public:
    HttpLoad(quint16 port, const QList<QPair<QByteArray, int>> &clients)
        : m_port(port)
    {
        m_times.resize(size_t(clients.size()));
        for (qsizetype i = 0; i < clients.size(); ++i) {
            m_threads.emplace_back([this, i, client = clients[i]] {
                ask(client.first, client.second, &m_times[size_t(i)]);
            });
        }
    }
    ~HttpLoad() { stop(); }

    void stop()
    {
        m_stop.store(true);
        for (std::thread &thread : m_threads) {
            if (thread.joinable())
                thread.join();
        }
    }

    // The answer times of every client that asked for path, in milliseconds, sorted.
    std::vector<double> times(const QByteArray &path, const QList<QPair<QByteArray, int>> &clients) const
    {
        std::vector<double> all;
        for (qsizetype i = 0; i < clients.size(); ++i) {
            if (clients[i].first == path)
                all.insert(all.end(), m_times[size_t(i)].cbegin(), m_times[size_t(i)].cend());
        }
        std::sort(all.begin(), all.end());
        return all;
    }

private:
    int open_connection() const
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            close(fd);
            return -1;
        }
        const timeval patience{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        return fd;
    }

    // One GET; true when a whole 200 answer came back.
    static bool get(int fd, const QByteArray &path)
    {
        const QByteArray request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size())
            return false;
        QByteArray got;
        char buffer[16384];
        qsizetype need = -1;
        while (need < 0 || got.size() < need) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            got.append(buffer, n);
            const qsizetype end = got.indexOf("\r\n\r\n");
            if (need < 0 && end >= 0) {
                const qsizetype at = got.indexOf("Content-Length: ");
                if (at < 0 || at > end)
                    return false;
                need = end + 4 + got.mid(at + 16, got.indexOf('\r', at) - at - 16).toLongLong();
            }
        }
        return got.startsWith("HTTP/1.1 200");
    }

    void ask(const QByteArray &path, int intervalMs, std::vector<double> *times)
    {
        int fd = -1;
        while (!m_stop.load()) {
            const double start = now();
            if (fd < 0)
                fd = open_connection();
            if (fd >= 0 && get(fd, path)) {
                times->push_back(1000.0 * (now() - start));
            } else if (fd >= 0) {
                close(fd);
                fd = -1;
            }
            const double left = intervalMs / 1000.0 - (now() - start);
            if (left > 0)
                usleep(useconds_t(left * 1e6));
        }
        if (fd >= 0)
            close(fd);
    }

    const quint16 m_port;
    std::atomic_bool m_stop{false};
    std::vector<std::vector<double>> m_times;
    std::vector<std::thread> m_threads;
};

// "median 0.42 ms, 99 % under 1.10 ms (2,480 answers)"
QString answer_times(const std::vector<double> &sorted)
{
    if (sorted.empty())
        return QStringLiteral("no answers");
    const auto at = [&sorted](double share) { return sorted[size_t(share * double(sorted.size() - 1))]; };
    return QStringLiteral("median %1 ms, 99 % under %2 ms (%3 answers)")
        .arg(QString::number(at(0.5), 'f', 2), QString::number(at(0.99), 'f', 2),
             QString::number(sorted.size()));
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
        // A station's HTTP side under load: eight paced boards with 20 clients scraping /metrics
        // every 100 ms and one polling /api/status as the page does, against the same run
        // without --http; pairs alternate, so a slower minute of the machine hits both.
        std::vector<std::unique_ptr<BoardSim>> sims;
        const QStringList specs = start_boards(sims, BOARDS, false);
        if (specs.isEmpty()) {
            out << "the pty simulators did not start\n";
            return 1;
        }
        QStringList arguments{QStringLiteral("station"), ptyImage, QStringLiteral("--json"),
                              QStringLiteral("--no-history"), QStringLiteral("--count"),
                              QString::number(BOARDS)};
        for (const QString &spec : specs)
            arguments << QStringLiteral("--board") << spec;
        QList<QPair<QByteArray, int>> clients(20, {QByteArrayLiteral("/metrics"), 100});
        clients.append({QByteArrayLiteral("/api/status"), PAGE_POLL_MS});
        out << "qvota station: 8 boards on ptys paced at 115200 baud, --count 8, without and with --http\n"
               "  (20 clients scraping /metrics every 100 ms, one polling /api/status every 400 ms as the page does)\n";
        for (int pair = 1; pair <= 2; ++pair) {
            const Run plain = run_qvota_with(arguments, BOARDS, json);
            const quint16 port = free_port();
            HttpLoad load(port, clients);
            const Run served = run_qvota_with(
                arguments + QStringList{QStringLiteral("--http"), QStringLiteral("127.0.0.1:%1").arg(port)},
                BOARDS, json);
            load.stop();
            allVerified = allVerified && plain.ok && served.ok;
            const double ratio = plain.wallSeconds > 0 ? served.wallSeconds / plain.wallSeconds : 0;
            const double cpuPlain = 100.0 * plain.cpuSeconds / std::max(plain.wallSeconds, 1e-9);
            const double cpuServed = 100.0 * served.cpuSeconds / std::max(served.wallSeconds, 1e-9);
            out << QStringLiteral("  pair %1: wall %2 s without, %3 s with = %4x (limit 1.02x: %5); "
                                  "qvota CPU %6 % without, %7 % with = %8 of a core (limit +1: %9)\n")
                       .arg(QString::number(pair), QString::number(plain.wallSeconds, 'f', 2),
                            QString::number(served.wallSeconds, 'f', 2), QString::number(ratio, 'f', 3),
                            verdict(ratio <= 1.02), QString::number(cpuPlain, 'f', 2),
                            QString::number(cpuServed, 'f', 2),
                            QString::number(cpuServed - cpuPlain, 'f', 2), verdict(cpuServed - cpuPlain <= 1.0))
                << QStringLiteral("          /metrics %1; /api/status %2; %3/8 and %4/8 verified\n")
                       .arg(answer_times(load.times("/metrics", clients)),
                            answer_times(load.times("/api/status", clients)),
                            QString::number(plain.verified), QString::number(served.verified));
            out.flush();
        }
    }
    // A station's idle cost: eight slots, four with a board that has been updated and still
    // answers (the slot waits for it to go), four where nothing answers; then the same with
    // --http and the page polling it, and a scrape of /metrics a second for its answer times.
    for (const bool served : {false, true}) {
        std::vector<std::unique_ptr<BoardSim>> sims;
        QStringList specs = start_boards(sims, BOARDS / 2, false);
        for (int port = 9; port < 9 + BOARDS / 2; ++port)
            specs << QStringLiteral("udp:127.0.0.1:%1").arg(port);
        QStringList arguments{QStringLiteral("station"), ptyImage, QStringLiteral("--no-history")};
        for (const QString &spec : std::as_const(specs))
            arguments << QStringLiteral("--board") << spec;
        const quint16 port = free_port();
        if (served)
            arguments << QStringLiteral("--http") << QStringLiteral("127.0.0.1:%1").arg(port);
        QProcess station;
        station.setStandardOutputFile(QProcess::nullDevice());
        station.setStandardErrorFile(QProcess::nullDevice());
        station.start(QStringLiteral(QVOTA_EXE), arguments);
        // The four paced updates take about 12 s; then the station only probes.
        QThread::sleep(20);
        const QList<QPair<QByteArray, int>> clients{{QByteArrayLiteral("/api/status"), PAGE_POLL_MS},
                                                    {QByteArrayLiteral("/metrics"), 1000}};
        std::unique_ptr<HttpLoad> load;
        if (served)
            load = std::make_unique<HttpLoad>(port, clients);
        const long ticksPerSecond = sysconf(_SC_CLK_TCK);
        const qint64 before = cpu_ticks(station.processId());
        constexpr int IDLE_SECONDS = 30;
        QThread::sleep(IDLE_SECONDS);
        const qint64 after = cpu_ticks(station.processId());
        if (load)
            load->stop();
        station.terminate();
        station.waitForFinished(5000);
        const bool measured = before >= 0 && after >= before;
        const double cpu = measured
            ? 100.0 * double(after - before) / double(ticksPerSecond) / IDLE_SECONDS
            : -1;
        out << (served ? "qvota station --http: 8 slots idle, the page polling /api/status\n"
                       : "qvota station: 8 slots idle (4 updated boards still answering, 4 silent)\n")
            << QStringLiteral("  CPU %1 % of one core over %2 s (limit 1 %: %3)\n")
                   .arg(QString::number(cpu, 'f', 2), QString::number(IDLE_SECONDS),
                        verdict(measured && cpu < 1.0));
        if (load) {
            const std::vector<double> metrics = load->times("/metrics", clients);
            const std::vector<double> status = load->times("/api/status", clients);
            const auto median = [](const std::vector<double> &t) { return t.empty() ? 1e9 : t[t.size() / 2]; };
            out << QStringLiteral("  /metrics %1; /api/status %2 (limit 10 ms at the median: %3)\n")
                       .arg(answer_times(metrics), answer_times(status),
                            verdict(median(metrics) < 10 && median(status) < 10));
        }
        out.flush();
    }
    out << "Wall times are whole qvota runs (start to exit); rates are verified payload bytes over "
           "that wall time; CPU and RSS are qvota's own (wait4), without the simulators'.\n";
    return allVerified ? 0 : 1;
}
