// One line per board on a terminal (its phase, or percent, rate and time left), redrawn in
// place. Never taller than the terminal: boards beyond its height are summed up in one line.
// Not thread-safe: the reporter that owns it holds its lock around every call.
#pragma once

#include "otaflow.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <vector>

namespace qvota::cli {

// Whether the stream is a terminal that understands cursor movement (never on Windows).
bool is_terminal(std::FILE *stream);

class LiveLines
{
public:
    // boards: the lines in the order the user gave them; others are added as they report.
    // imageBytes: what each board is sent, for the rate.
    LiveLines(std::FILE *terminal, const QStringList &boards, qint64 imageBytes);

    void progress(const QString &board, int done, int total);
    void state(const QString &board, const QString &text);
    // The update's phase: identification and the erase by name, the transfer as progress, and
    // after it the checks and the warm boot, with the transfer's rate kept as it ended.
    void stage(const QString &board, RunStage stage);
    // Writes bytes to out; when out is the same terminal, the block gets out of their way and
    // is drawn again at the next redraw.
    void writeAbove(std::FILE *out, const QByteArray &bytes);
    // Redraws what changed, at most a few times a second.
    void redraw();
    // Takes the block off the screen for good, before the summary.
    void finish();

    // The block as it would be drawn on a terminal of rows x columns, one text per line.
    QStringList render(int rows, int columns) const;

private:
    struct Line
    {
        QString board;
        int done = 0;
        int total = 0;
        QElapsedTimer since;      // from the first progress, for the rate and the time left
        RunStage stage = RunStage::Link;
        QElapsedTimer stageSince; // for the seconds of a phase after the transfer
        double rate = 0;          // bytes per second when the transfer ended
        QString state;            // shown instead of the phase when set
    };
    Line &line(const QString &board);
    QString render(const Line &line) const;
    // Whether the line shows an update under way, which is kept in view before the others.
    static bool active(const Line &line);
    void erase();

    // Payload bytes per second of the frames acknowledged so far.
    double rate(const Line &line) const;

    std::FILE *m_terminal;
    const qint64 m_imageBytes;
    std::vector<Line> m_lines;
    int m_drawn = 0; // lines of the block now on the screen
    bool m_changed = false;
    QElapsedTimer m_lastDraw;
};

} // namespace qvota::cli
