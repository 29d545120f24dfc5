// qvota station: unattended updates at fixed slots. Each slot waits for a board, updates it,
// and waits for it to go before it looks for the next one.
#include "commands.h"

#include "interrupt.h"
#include "probe.h"
#include "runsetup.h"
#include "stationwatch.h"

#include <QElapsedTimer>

#include <thread>
#include <vector>

namespace qvota::cli {

namespace {

// Once a second: a board is noticed soon after it is plugged in, and an idle station costs
// next to nothing.
constexpr int PROBE_INTERVAL_MS = 1000;
// A board that has not answered for this long has gone (or left its update firmware).
constexpr int GONE_AFTER_MS = 3000;
// How soon a waiting slot notices that the station stops; well within the 2 s a Ctrl-C may take.
constexpr auto STOP_POLL = std::chrono::milliseconds(200);

// The station's shared state between its slot threads.
class Station
{
public:
    explicit Station(const PreparedRun &run)
        : m_run(run)
        , m_count(run.options.count)
    {}

    // Runs one slot until the station stops.
    void serve(const BoardSpec &spec)
    {
        SlotProbe probe(spec, m_ports, &m_stop);
        while (!m_stop.load()) {
            m_run.plan.reporter->slotChanged(spec.label, SlotState::Waiting);
            BoardPlace place;
            QString identity;
            if (!waitForAnswer(probe, &place, &identity) || !reserveUpdate())
                return;
            probe.release();
            // The probe skips the port listing for a named device; its USB serial number, for
            // the history, is looked up once per board.
            if (spec.serial && spec.serialNumber.isEmpty())
                place = locate(spec, m_ports.now()).value();
            m_run.plan.reporter->slotChanged(spec.label, SlotState::Arrived);
            const BoardResult result = update_board(spec, place, m_run.plan, &interrupt_flag());
            if (result.outcome() == Outcome::Cancelled || !waitUntilGone(probe, identity))
                return;
            m_run.plan.reporter->slotChanged(spec.label, SlotState::Gone);
        }
    }

    // Called by the main thread a few times a second.
    void tick()
    {
        if (interrupted() || (m_count > 0 && finished() >= m_count))
            m_stop.store(true);
    }

private:
    int finished() const
    {
        const Tally tally = m_run.tally.value();
        return tally.verified + tally.failed + tally.cancelled;
    }

    // Exactly --count updates start in all, so the last ones are never cut short to end on
    // time, and no slot starts one more.
    bool reserveUpdate()
    {
        return m_count == 0 || m_started.fetch_add(1) < m_count;
    }

    // Probes once a second until a board answers; false when the station stopped first.
    bool waitForAnswer(SlotProbe &probe, BoardPlace *place, QString *identity)
    {
        while (!m_stop.load()) {
            QElapsedTimer round;
            round.start();
            if (probe.look(place, identity) == Presence::Answers)
                return true;
            pause(PROBE_INTERVAL_MS - round.elapsed());
        }
        return false;
    }

    // Gone: the port was removed (or replaced by another since the update), or the board did
    // not answer for GONE_AFTER_MS.
    bool waitUntilGone(SlotProbe &probe, const QString &updatedIdentity)
    {
        QElapsedTimer silent;
        while (!m_stop.load()) {
            QElapsedTimer round;
            round.start();
            BoardPlace place;
            QString identity;
            const Presence presence = probe.look(&place, &identity);
            if (presence == Presence::Removed || identity != updatedIdentity)
                return true;
            if (presence == Presence::Answers)
                silent.invalidate();
            else if (!silent.isValid())
                silent.start();
            else if (silent.elapsed() >= GONE_AFTER_MS)
                return true;
            pause(PROBE_INTERVAL_MS - round.elapsed());
        }
        return false;
    }

    void pause(qint64 ms) const
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_stop.load() && timer.elapsed() < ms)
            std::this_thread::sleep_for(STOP_POLL);
    }

    const PreparedRun &m_run;
    const int m_count;
    std::atomic_bool m_stop{false};
    std::atomic_int m_started{0};
    PortListing m_ports;
};

} // namespace

int run_station(const QStringList &arguments)
{
    std::unique_ptr<Station> station;
    std::unique_ptr<StationWatch> watch; // with --http
    return run_boards(RunMode::Station, arguments, [&station, &watch](PreparedRun &run) {
        BoardWork work;
        if (run.options.http) {
            Expected<std::unique_ptr<StationWatch>> started = StationWatch::start(run);
            if (!started) {
                work.refusal = usage_error(QStringLiteral("station"), started.message());
                return work;
            }
            watch = std::move(started).value();
            run.plan.reporter = &watch->reporter();
        }
        station = std::make_unique<Station>(run);
        work.serve = [&station](const BoardSpec &spec) { station->serve(spec); };
        work.tick = [&station] { station->tick(); };
        return work;
    });
}

} // namespace qvota::cli
