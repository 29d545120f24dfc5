// Updates back to back (1,000 by default) through one OtaController, in one process, against the
// board simulator over UDP on 127.0.0.1. About one run in ten injects a fault, drawn from a
// generator seeded from --seed so that a soak can be repeated run for run. Every run must end
// within a bound worked out from the waits its fault forces, with the outcome that fault calls
// for: a verified success, or a failure with its own message. Open descriptors, threads and
// resident memory are sampled every 100 runs and must be flat from run 100 to the last.
// Exit code 0 only when every check holds.
#include "boardsim.h"
#include "container.h"
#include "otacontroller.h"
#include "otaflow.h"
#include "protocolwaits.h"
#include "testimages.h"
#include "verifiedlines.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

using namespace qvota::test;
using namespace Qt::StringLiterals;

namespace {

constexpr int DEFAULT_RUNS = 1000;
constexpr quint32 DEFAULT_SEED = 20250601;
constexpr int FAULT_ONE_IN = 10;
constexpr int SAMPLE_EVERY = 100;

// What a run may take beyond the flow's fixed waits on a loaded machine.
constexpr int RETRIES = 3; // the controller's, fixed
constexpr qint64 RUN_SLACK_MS = 10000;
// After a run has outlived its bound: how long a cancel request may take to end it.
constexpr qint64 CANCEL_GRACE_MS = 60000;
// The erase takes this long on the simulator, so that a cancel sent when the erase command is
// logged lands inside the erase wait.
constexpr int SLOW_ERASE_MS = 500;

// Flat: the same descriptors and threads, and resident memory within this much.
constexpr qint64 RSS_SLACK_KIB = 4096;

struct Image
{
    QString path;
    quint32 crc = 0;
    int frames = 0;
};

QString crc_hex(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0'));
}

QString crc_field(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char(' '));
}

struct Fault
{
    QString name;
    int weight;    // relative chance among the faults
    qint64 waitMs; // what it forces the flow to sit out
    bool cancelDuringErase;
    std::function<QStringList(const Image &)> simArgs;
    std::function<QString(const Image &)> error; // the run's message; empty: a verified success
};

QString frame_failed(int frame)
{
    return QStringLiteral("frame %1 failed after %2 tries")
        .arg(QString::number(frame), QString::number(RETRIES));
}

// Mostly faults that fail or recover at once; those that sit out 15 s or more are rare.
std::vector<Fault> fault_menu()
{
    const auto fixed = [](const QStringList &args) {
        return [args](const Image &) { return args; };
    };
    const auto message = [](const QString &text) { return [text](const Image &) { return text; }; };
    const auto success = message(QString());
    const QString jedecFailed =
        QStringLiteral("JEDEC check failed (board not in OTA image or flash unreadable)");
    return {
        {u"bad-rx-crc"_s, 10, 0, false, fixed({u"--bad-rx-crc"_s}),
         [](const Image &image) {
             return QStringLiteral("RX CRC32 mismatch rx=%1 file=%2")
                 .arg(crc_field(~image.crc), crc_field(image.crc));
         }},
        {u"bad-img-crc"_s, 10, 0, false, fixed({u"--bad-img-crc"_s}),
         [](const Image &image) {
             return QStringLiteral("IMG CRC32 mismatch img=%1 file=%2")
                 .arg(crc_field(~image.crc), crc_field(image.crc));
         }},
        {u"erase-reply BUSY"_s, 10, 0, false, fixed({u"--erase-reply"_s, u"BUSY"_s}),
         message(QStringLiteral("expected READY after erase, got 'BUSY'"))},
        {u"jedec EF4018"_s, 10, 0, false, fixed({u"--jedec"_s, u"EF4018"_s}), message(jedecFailed)},
        {u"rxdone-instead-of-last-ack"_s, 10, 0, false, fixed({u"--rxdone-instead-of-last-ack"_s}),
         success},
        {u"drop-ack last"_s, 10, 0, false,
         [](const Image &image) {
             return QStringList{u"--drop-ack"_s, QString::number(image.frames - 1)};
         },
         success},
        {u"stray-after 0"_s, 10, 0, false, fixed({u"--stray-after"_s, u"0"_s}), success},
        {u"noise-lines 3"_s, 10, 0, false, fixed({u"--noise-lines"_s, u"3"_s}), success},
        {u"cancel during erase"_s, 10, 0, true,
         fixed({u"--erase-ms"_s, QString::number(SLOW_ERASE_MS)}),
         message(QStringLiteral("cancelled by user"))},
        {u"silent-identify 1"_s, 6, IDENTIFY_WINDOW_MS, false,
         fixed({u"--silent-identify"_s, u"1"_s}), success},
        {u"drop-ack 1"_s, 3, ACK_WAIT_MS, false, fixed({u"--drop-ack"_s, u"1"_s}), success},
        {u"no-rxdone"_s, 3, RXDONE_WAIT_MS, false, fixed({u"--no-rxdone"_s}),
         message(QStringLiteral("no RXDONE, got ''"))},
        {u"never-ack 1"_s, 1, RETRIES * ACK_WAIT_MS, false, fixed({u"--never-ack"_s, u"1"_s}),
         message(frame_failed(1))},
        {u"reset-at 1"_s, 1, RETRIES * ACK_WAIT_MS, false, fixed({u"--reset-at"_s, u"1"_s}),
         message(frame_failed(1))},
        {u"drop-link-at 1"_s, 1, RETRIES * ACK_WAIT_MS, false, fixed({u"--drop-link-at"_s, u"1"_s}),
         message(frame_failed(1))},
    };
}

const Fault &pick_fault(const std::vector<Fault> &menu, QRandomGenerator &rng)
{
    int total = 0;
    for (const Fault &fault : menu)
        total += fault.weight;
    int draw = int(rng.bounded(total));
    for (const Fault &fault : menu) {
        if (draw < fault.weight)
            return fault;
        draw -= fault.weight;
    }
    return menu.back();
}

struct Sample
{
    int run = 0;
    int fds = 0;
    int threads = 0;
    qint64 rssKib = 0;
};

qint64 status_field(const QByteArray &status, const QByteArray &key)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(QByteArray(key + ':')))
            return line.mid(key.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

Sample take_sample(int run)
{
    // The last worker posts its finish as its final act; let it leave before threads are
    // counted.
    QThread::msleep(100);
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    Sample sample;
    sample.run = run;
    sample.fds = int(QDir(QStringLiteral("/proc/self/fd"))
                         .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                         .size());
    sample.threads = int(status_field(text, "Threads"));
    sample.rssKib = status_field(text, "VmRSS");
    return sample;
}

struct Outcome
{
    bool finished = false;
    bool ok = false;
    QString message;
    QStringList log; // without the time stamps
    qint64 ms = 0;
};

// One run; returns once it has finished or its bound has passed.
void run_once(qvota::OtaController &controller, const QVariantMap &cfg, bool cancelDuringErase,
              qint64 boundMs, Outcome &out)
{
    QEventLoop loop;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&controller, &qvota::OtaController::logAppended, &loop,
                     [&](const QString &line) {
                         out.log << line.mid(13);
                         if (cancelDuringErase && line.contains(QLatin1String("TX> U len=")))
                             controller.cancel();
                     });
    QObject::connect(&controller, &qvota::OtaController::otaFinished, &loop,
                     [&](bool ok, const QString &message) {
                         out.finished = true;
                         out.ok = ok;
                         out.message = message;
                         loop.quit();
                     });
    QElapsedTimer timer;
    timer.start();
    bound.start(int(boundMs));
    controller.start(cfg);
    if (!out.finished)
        loop.exec();
    out.ms = timer.elapsed();
}

QVariantMap udp_config(quint16 boardPort, const QString &file)
{
    return {{u"transport"_s, u"udp"_s},    {u"ip"_s, u"127.0.0.1"_s}, {u"udpPort"_s, boardPort},
            {u"hostIp"_s, u"127.0.0.1"_s}, {u"hostPort"_s, 0},        {u"file"_s, file}};
}

struct Tally
{
    int runs = 0;
    int asExpected = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Updates back to back through the controller, "
                                                    "with injected faults"));
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("number of runs"),
                                        QStringLiteral("n"), QString::number(DEFAULT_RUNS));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("generator seed"),
                                        QStringLiteral("s"), QString::number(DEFAULT_SEED));
    parser.addOptions({runsOption, seedOption});
    parser.process(app);
    const int runs = parser.value(runsOption).toInt();
    const quint32 seed = parser.value(seedOption).toUInt();
    QTextStream out(stdout);
    if (runs < 1) {
        out << "qvota-soak: --runs needs a positive number" << Qt::endl;
        return 2;
    }

    QTemporaryDir dir;
    std::vector<Image> images;
    // Small images of 3, 8 and 20 frames, each with its own CRC, so no run can pass on a stale one.
    for (const int plainSize : {700, 2000, 5000}) {
        const QByteArray plain = pattern_bytes(plainSize, quint32(plainSize));
        const QByteArray container = pack_with_sim(plain);
        Image image;
        image.path = write_file(dir, QStringLiteral("image%1.qvbit").arg(plainSize), container);
        image.crc = qvota::crc32(plain);
        image.frames = qvota::frame_count(container.size());
        if (!dir.isValid() || container.isEmpty() || image.path.isEmpty()) {
            out << "qvota-soak: cannot pack the test images" << Qt::endl;
            return 2;
        }
        images.push_back(image);
    }

    BoardSim board;
    if (!board.startUdp()) {
        out << "qvota-soak: the simulator did not start\n" << board.log() << Qt::endl;
        return 2;
    }

    const std::vector<Fault> menu = fault_menu();
    QRandomGenerator rng(seed);
    qvota::OtaController controller;
    std::vector<Sample> samples;
    std::map<QString, Tally> tallies;
    int cleanRuns = 0;
    int cleanVerified = 0;
    int falseSuccesses = 0;
    int hangs = 0;
    int wrongOutcomes = 0;
    quint32 lastCleanCrc = 0;
    QElapsedTimer total;
    total.start();

    out << "qvota-soak: " << runs << " runs, seed " << seed << ", a fault in about one run in "
        << FAULT_ONE_IN << Qt::endl;
    for (int run = 1; run <= runs; ++run) {
        // Drawn in a fixed order, so one seed always gives the same sequence of runs.
        const Image &image = images.at(rng.bounded(quint32(images.size())));
        const Fault *fault = rng.bounded(FAULT_ONE_IN) == 0 ? &pick_fault(menu, rng) : nullptr;

        std::unique_ptr<BoardSim> faultyBoard;
        quint16 port = board.udpPort();
        if (fault) {
            faultyBoard = std::make_unique<BoardSim>();
            if (!faultyBoard->startUdp(fault->simArgs(image))) {
                out << "run " << run << ": the simulator for " << fault->name << " did not start\n"
                    << faultyBoard->log() << Qt::endl;
                return 2;
            }
            port = faultyBoard->udpPort();
        }

        const qint64 boundMs = (fault ? fault->waitMs : 0) + RUN_SLACK_MS;
        Outcome outcome;
        run_once(controller, udp_config(port, image.path), fault && fault->cancelDuringErase,
                 boundMs, outcome);

        const QString name = fault ? fault->name : QStringLiteral("none");
        const QString expected = fault ? fault->error(image) : QString();
        QStringList problems;
        if (!outcome.finished) {
            ++hangs;
            problems << QStringLiteral("a hang: no finish after %1 ms").arg(boundMs);
            controller.cancel();
            QEventLoop wait;
            QTimer::singleShot(int(CANCEL_GRACE_MS), &wait, &QEventLoop::quit);
            QObject::connect(&controller, &qvota::OtaController::runningChanged, &wait,
                             &QEventLoop::quit);
            if (controller.running())
                wait.exec();
            if (controller.running()) {
                out << "run " << run << ": still running after a cancel request; giving up"
                    << Qt::endl;
                return 1;
            }
        } else if (outcome.ok) {
            const bool verified = outcome.message == COMPLETE && outcome.log.contains(RX_MATCH)
                                  && outcome.log.contains(IMG_MATCH);
            if (!expected.isEmpty() || !verified) {
                ++falseSuccesses;
                problems << QStringLiteral("FALSE SUCCESS (expected '%1', verified: %2)")
                                .arg(expected,
                                     verified ? QStringLiteral("yes") : QStringLiteral("no"));
            }
        } else if (outcome.message != expected) {
            ++wrongOutcomes;
            problems << QStringLiteral("failed with '%1', expected %2")
                            .arg(outcome.message,
                                 expected.isEmpty()
                                     ? QStringLiteral("a verified success")
                                     : QLatin1Char('\'') + expected + QLatin1Char('\''));
        }

        if (faultyBoard) {
            // What the board holds must agree with what the controller reported.
            const QJsonObject record = faultyBoard->stop();
            if (outcome.finished && outcome.ok
                && record.value(QStringLiteral("lastRxCrc")).toString() != crc_hex(image.crc)) {
                ++falseSuccesses;
                problems << QStringLiteral("FALSE SUCCESS: the board received CRC '%1'")
                                .arg(record.value(QStringLiteral("lastRxCrc")).toString());
            }
        } else {
            ++cleanRuns;
            if (outcome.ok && problems.isEmpty()) {
                ++cleanVerified;
                lastCleanCrc = image.crc;
            }
        }

        Tally &tally = tallies[name];
        ++tally.runs;
        if (problems.isEmpty()) {
            ++tally.asExpected;
        } else {
            out << "run " << run << " (fault " << name << ", " << outcome.ms
                << " ms): " << problems.join(QStringLiteral("; ")) << "\n  "
                << outcome.log.mid(qMax(0, int(outcome.log.size()) - 12))
                       .join(QStringLiteral("\n  "))
                << Qt::endl;
        }

        if (run % SAMPLE_EVERY == 0 || run == runs) {
            const Sample sample = take_sample(run);
            samples.push_back(sample);
            out << "run " << run << '/' << runs << "  "
                << QString::number(double(total.elapsed()) / 1000.0, 'f', 1) << " s  fds "
                << sample.fds << "  threads " << sample.threads << "  rss " << sample.rssKib
                << " kB  problems " << falseSuccesses + hangs + wrongOutcomes << Qt::endl;
        }
    }

    // Every clean run went to the one board; it must have completed exactly those transfers.
    const QJsonObject record = board.stop();
    const int boardUpdates = record.value(QStringLiteral("updates")).toInt();
    const bool boardAgrees =
        boardUpdates == cleanRuns
        && (cleanVerified == 0
            || record.value(QStringLiteral("lastRxCrc")).toString() == crc_hex(lastCleanCrc));

    out << "\nsummary: " << runs << " runs in " << QString::number(total.elapsed() / 1000.0, 'f', 1)
        << " s, seed " << seed << Qt::endl;
    const auto tableRow = [&out](const QString &name, const QString &count,
                                 const QString &asExpected) {
        out << "  " << name.leftJustified(28) << ' ' << count.rightJustified(5) << ' '
            << asExpected.rightJustified(12) << Qt::endl;
    };
    tableRow(QStringLiteral("fault"), QStringLiteral("runs"), QStringLiteral("as expected"));
    for (const auto &[name, tally] : tallies)
        tableRow(name, QString::number(tally.runs), QString::number(tally.asExpected));
    out << "  clean runs verified: " << cleanVerified << " of " << cleanRuns
        << "; transfers the clean board completed: " << boardUpdates << Qt::endl;
    out << "  false successes: " << falseSuccesses << ", hangs: " << hangs
        << ", wrong outcomes: " << wrongOutcomes << Qt::endl;

    bool flat = true;
    out << "  resources";
    if (samples.size() >= 2) {
        const Sample &first = samples.front();
        const Sample &last = samples.back();
        const qint64 growth = last.rssKib - first.rssKib;
        flat = first.fds == last.fds && first.threads == last.threads && growth <= RSS_SLACK_KIB;
        out << " run " << first.run << " -> " << last.run << ": fds " << first.fds << " -> "
            << last.fds << ", threads " << first.threads << " -> " << last.threads << ", rss "
            << first.rssKib << " -> " << last.rssKib << " kB (" << (growth >= 0 ? "+" : "")
            << growth << " kB; flat: equal fds and threads, rss within " << RSS_SLACK_KIB
            << " kB): " << (flat ? "flat" : "NOT FLAT") << Qt::endl;
    } else {
        out << " not checked (fewer than " << SAMPLE_EVERY << " runs)" << Qt::endl;
    }

    const bool pass = falseSuccesses == 0 && hangs == 0 && wrongOutcomes == 0 && boardAgrees
                      && cleanVerified == cleanRuns && flat;
    out << (pass ? "PASS" : "FAIL") << Qt::endl;
    return pass ? 0 : 1;
}
