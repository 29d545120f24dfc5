#include "stationstatus.h"

#include "otaflow.h"

#include <algorithm>

namespace qvota::cli {

QString phase_name(SlotPhase phase)
{
    switch (phase) {
    case SlotPhase::Waiting:
        return QStringLiteral("waiting");
    case SlotPhase::Updating:
        return QStringLiteral("updating");
    case SlotPhase::Verified:
        return QStringLiteral("verified");
    case SlotPhase::Failed:
        return QStringLiteral("failed");
    case SlotPhase::Cancelled:
        return QStringLiteral("cancelled");
    case SlotPhase::Gone:
        break;
    }
    return QStringLiteral("gone");
}

StationStatus::StationStatus(StationFacts facts, const QStringList &boards)
    : m_facts(std::move(facts))
{
    m_clock.start();
    for (const QString &board : boards) {
        m_index.insert(board, int(m_slots.size()));
        Slot slot;
        slot.status.board = board;
        m_slots.append(slot);
    }
}

// A change replaces texts by moving fresh copies in (never by copy-assigning them): a snapshot on
// the HTTP thread may still share the old text, and the thread sanitizer can follow the
// release of a shared text only where it happens in inline code, not inside Qt's library.
template<typename Change>
void StationStatus::change(const QString &board, Change change)
{
    const auto found = m_index.constFind(board);
    if (found == m_index.cend())
        return;
    const QMutexLocker lock(&m_mutex);
    change(m_slots[*found]);
    m_generation.fetch_add(1);
}

void StationStatus::slotChanged(const QString &board, SlotState state)
{
    change(board, [state](Slot &slot) {
        SlotStatus &status = slot.status;
        switch (state) {
        case SlotState::Waiting:
            // A slot whose board has gone waits too; it keeps saying so until the next arrives.
            if (status.phase != SlotPhase::Gone)
                status.phase = SlotPhase::Waiting;
            break;
        case SlotState::Arrived:
            status.phase = SlotPhase::Updating;
            break;
        case SlotState::Gone:
            status.phase = SlotPhase::Gone;
            break;
        }
    });
}

void StationStatus::started(const QString &board, const QString &port)
{
    change(board, [&port](Slot &slot) {
        slot.status.phase = SlotPhase::Updating;
        slot.status.port = QString(port);
        slot.status.stage = QStringLiteral("link");
        slot.status.done = 0;
        slot.status.total = 0;
        slot.transferStartMs = -1;
        slot.progressMs = -1;
        slot.runningBytes = 0;
    });
}

void StationStatus::staged(const QString &board, const QString &stage)
{
    const qint64 now = m_clock.elapsed();
    change(board, [&stage, now](Slot &slot) {
        slot.status.stage = QString(stage);
        if (stage == QLatin1String("transfer"))
            slot.transferStartMs = now;
    });
}

void StationStatus::progressed(const QString &board, int done, int total)
{
    const qint64 now = m_clock.elapsed();
    const qint64 imageBytes = m_facts.imageBytes;
    change(board, [=](Slot &slot) {
        slot.status.done = done;
        slot.status.total = total;
        slot.progressMs = now;
        if (slot.transferStartMs < 0)
            slot.transferStartMs = now;
        slot.runningBytes = frame_bytes(done, imageBytes);
    });
}

void StationStatus::finished(const QString &board, const SlotResult &result)
{
    change(board, [&result](Slot &slot) {
        SlotStatus &status = slot.status;
        SlotTotals &totals = status.totals;
        ++totals.updates[size_t(result.outcome)];
        // Never less than the progress already counted: the counter may not go back.
        totals.sentBytes += quint64(std::max(result.bytes, slot.runningBytes));
        slot.runningBytes = 0;
        const auto bucket = std::lower_bound(DURATION_BUCKETS.cbegin(), DURATION_BUCKETS.cend(),
                                             result.seconds);
        ++totals.durations[size_t(bucket - DURATION_BUCKETS.cbegin())];
        totals.durationSum += result.seconds;
        ++totals.durationCount;
        switch (result.outcome) {
        case Outcome::Verified:
            status.phase = SlotPhase::Verified;
            status.failuresInRow = 0;
            break;
        case Outcome::Failed:
            status.phase = SlotPhase::Failed;
            ++status.failuresInRow;
            break;
        case Outcome::Cancelled:
            // Stopping the station says nothing about the board.
            status.phase = SlotPhase::Cancelled;
            break;
        }
        status.stage.clear();
        status.last = SlotResult(result);
    });
}

StationSnapshot StationStatus::snapshot() const
{
    StationSnapshot snapshot;
    snapshot.facts = m_facts;
    snapshot.time = QDateTime::currentDateTime();
    const qint64 now = m_clock.elapsed();
    snapshot.uptimeSeconds = double(now) / 1000.0;
    {
        const QMutexLocker lock(&m_mutex);
        snapshot.generation = m_generation.load();
        snapshot.slotList.reserve(m_slots.size());
        for (const Slot &slot : m_slots) {
            SlotStatus status = slot.status;
            status.sentBytes = qint64(status.totals.sentBytes) + slot.runningBytes;
            const qint64 spent = slot.progressMs - slot.transferStartMs;
            if (status.phase == SlotPhase::Updating && status.stage == QLatin1String("transfer")
                && status.done > 0 && spent > 0) {
                const double perFrameMs = double(spent) / status.done;
                const double leftMs =
                    perFrameMs * (status.total - status.done) - double(now - slot.progressMs);
                status.secondsLeft = std::max(0.0, leftMs / 1000.0);
            }
            snapshot.slotList.append(status);
        }
    }
    return snapshot;
}

} // namespace qvota::cli
