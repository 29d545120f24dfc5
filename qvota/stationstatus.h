// What a station's slots are doing and have done, for its page, /api/status and /metrics. The
// board threads write it through StatusReporter; the HTTP thread reads copies. Every call holds
// one mutex for a few field assignments, so a board thread never waits on a client.
#pragma once

#include "reporter.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <optional>

namespace qvota::cli {

// What a tile shows. After a result the slot shows it until the board goes; "gone" then stays
// until the next board answers, so the operator sees that the fixture is free.
enum class SlotPhase { Waiting, Updating, Verified, Failed, Cancelled, Gone };
inline constexpr std::array<SlotPhase, 6> SLOT_PHASES{SlotPhase::Waiting,  SlotPhase::Updating,
                                                      SlotPhase::Verified, SlotPhase::Failed,
                                                      SlotPhase::Cancelled, SlotPhase::Gone};

// "waiting", "updating", "verified", "failed", "cancelled", "gone".
QString phase_name(SlotPhase phase);

inline constexpr std::array<Outcome, 3> OUTCOMES{Outcome::Verified, Outcome::Failed,
                                                 Outcome::Cancelled};

// Upper bounds of the duration histogram: a UDP board on the bench takes about a second, a
// 2 MiB image at 115200 baud about three minutes, a slow or retrying link up to ten.
inline constexpr std::array<double, 10> DURATION_BUCKETS{1, 2, 5, 10, 20, 30, 60, 120, 300, 600};

struct SlotResult
{
    Outcome outcome = Outcome::Failed;
    QString stage;   // where it ended, as in the JSON result
    QString message; // empty when verified
    double seconds = 0;
    qint64 bytes = 0;
    QDateTime time; // when it finished
};

// Everything counted since the station started; none of it ever goes down.
struct SlotTotals
{
    std::array<quint64, OUTCOMES.size()> updates{}; // by Outcome
    quint64 sentBytes = 0;                           // of finished updates
    // Finished updates per bucket, not cumulative; the last one is above every bound.
    std::array<quint64, DURATION_BUCKETS.size() + 1> durations{};
    double durationSum = 0;
    quint64 durationCount = 0;
};

struct SlotStatus
{
    QString board; // the board as given on the command line or in the boards file
    SlotPhase phase = SlotPhase::Waiting;
    QString port;  // of the current or last update
    QString stage; // while updating
    int done = 0;  // frames acknowledged, while updating
    int total = 0;
    std::optional<double> secondsLeft; // during the transfer, once a rate is known
    qint64 sentBytes = 0;              // the totals' and the running update's
    int failuresInRow = 0;             // failed updates since the last verified one
    std::optional<SlotResult> last;
    SlotTotals totals;
};

// What does not change while a station runs.
struct StationFacts
{
    QString host;
    QString version;
    QString imageName; // the file name, without its folder
    QString imageSha256;
    qint64 imageBytes = 0; // what each board is sent
    QDateTime startedAt;
};

struct StationSnapshot
{
    StationFacts facts;
    QDateTime time; // when it was taken
    double uptimeSeconds = 0;
    QList<SlotStatus> slotList; // in the order the boards were given
    quint64 generation = 0;
};

class StationStatus
{
public:
    StationStatus(StationFacts facts, const QStringList &boards);

    void slotChanged(const QString &board, SlotState state);
    void started(const QString &board, const QString &port);
    void staged(const QString &board, const QString &stage);
    void progressed(const QString &board, int done, int total);
    void finished(const QString &board, const SlotResult &result);

    StationSnapshot snapshot() const;
    // Changes whenever anything but the clock changed, so a reader may keep what it made of the
    // last snapshot until then.
    quint64 generation() const { return m_generation.load(); }

private:
    struct Slot
    {
        SlotStatus status;
        qint64 transferStartMs = -1; // on m_clock
        qint64 progressMs = -1;
        qint64 runningBytes = 0; // acknowledged in the running update
    };

    // Runs change under the lock on board's slot, if it is one of the station's.
    template<typename Change>
    void change(const QString &board, Change change);

    const StationFacts m_facts;
    QElapsedTimer m_clock;
    QHash<QString, int> m_index;
    mutable QMutex m_mutex;
    QList<Slot> m_slots;
    std::atomic<quint64> m_generation{1};
};

} // namespace qvota::cli
