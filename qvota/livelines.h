// One line per board on a terminal (percent, rate, time left), redrawn in place. Not
// thread-safe: the reporter that owns it holds its lock around every call.
#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <vector>

namespace qvota::cli {

// Whether the stream is a terminal that understands cursor movement (never on Windows).
bool is_terminal(std::FILE *stream);

class LiveLines
{
public:
    explicit LiveLines(std::FILE *terminal);

    void progress(const QString &board, int done, int total);
    void state(const QString &board, const QString &text);
    // Writes bytes to out; when out is the same terminal, the block gets out of their way and
    // is drawn again at the next redraw.
    void writeAbove(std::FILE *out, const QByteArray &bytes);
    // Redraws what changed, at most a few times a second.
    void redraw();
    // Takes the block off the screen for good, before the summary.
    void finish();

private:
    struct Line
    {
        QString board;
        int done = 0;
        int total = 0;
        QElapsedTimer since; // from the first progress, for the rate and the time left
        QString state;       // shown instead of the progress when set
    };
    Line &line(const QString &board);
    QString render(const Line &line) const;
    void erase();

    std::FILE *m_terminal;
    std::vector<Line> m_lines;
    int m_drawn = 0; // lines of the block now on the screen
    bool m_changed = false;
    QElapsedTimer m_lastDraw;
};

} // namespace qvota::cli
