// What the two kinds of output say alike: the words for a slot's state and a board's result,
// and whether live lines are drawn.
#pragma once

#include "livelines.h"
#include "reporter.h"

#include <QMutex>

#include <memory>

namespace qvota::cli {

// What both kinds of output keep: the lock that serialises the board threads' calls, and the live
// lines on stderr when it is a terminal and the output is not quiet.
class LiveReporter : public Reporter
{
public:
    void staged(const QString &board, RunStage stage) override
    {
        const QMutexLocker lock(&m_mutex);
        if (m_live)
            m_live->stage(board, stage);
    }

    void refresh() override
    {
        const QMutexLocker lock(&m_mutex);
        if (m_live)
            m_live->redraw();
    }

protected:
    explicit LiveReporter(const OutputOptions &options);

    QMutex m_mutex;
    const std::unique_ptr<LiveLines> m_live;
};

// "waiting for a board", "board answers", "board gone".
QString state_text(SlotState state);

// The JSON event of a slot state: "waiting", "arrived", "gone".
QString event_name(SlotState state);

// "verified in 3.2 s", "failed at img-crc after 3.2 s: MESSAGE", "cancelled at transfer after ...".
QString result_text(const BoardResult &result);

} // namespace qvota::cli
