#include "livelines.h"

#include "otaflow.h"

#include <QtGlobal>

#ifndef Q_OS_WIN
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>

namespace qvota::cli {

namespace {

constexpr int REDRAW_MS = 250;

int terminal_columns(std::FILE *stream)
{
#ifndef Q_OS_WIN
    winsize size{};
    if (::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#else
    Q_UNUSED(stream);
#endif
    return 80;
}

QString duration(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(QString::number(seconds / 60),
                                       QString::number(seconds % 60).rightJustified(2, QLatin1Char('0')));
}

} // namespace

bool is_terminal(std::FILE *stream)
{
#ifdef Q_OS_WIN
    // A Windows console moves the cursor on escape codes only once told to; plain lines there.
    Q_UNUSED(stream);
    return false;
#else
    return ::isatty(fileno(stream)) && qgetenv("TERM") != "dumb";
#endif
}

LiveLines::LiveLines(std::FILE *terminal)
    : m_terminal(terminal)
{
    m_lastDraw.start();
}

LiveLines::Line &LiveLines::line(const QString &board)
{
    const auto found = std::find_if(m_lines.begin(), m_lines.end(),
                                    [&](const Line &l) { return l.board == board; });
    if (found != m_lines.end())
        return *found;
    m_lines.push_back(Line{board, 0, 0, {}, {}});
    return m_lines.back();
}

void LiveLines::progress(const QString &board, int done, int total)
{
    Line &l = line(board);
    if (!l.since.isValid() || done < l.done)
        l.since.start();
    l.done = done;
    l.total = total;
    l.state.clear();
    m_changed = true;
}

void LiveLines::state(const QString &board, const QString &text)
{
    Line &l = line(board);
    l.state = text;
    l.since.invalidate();
    m_changed = true;
}

QString LiveLines::render(const Line &l) const
{
    if (!l.state.isEmpty() || l.total <= 0)
        return QStringLiteral("%1  %2").arg(l.board, l.state);
    const double seconds = double(l.since.elapsed()) / 1000.0;
    const double bytesPerSecond = seconds > 0 ? l.done * double(FRAME_PAYLOAD) / seconds : 0;
    QString eta = QStringLiteral("-");
    if (l.done > 0 && seconds > 0)
        eta = duration(qint64((l.total - l.done) * seconds / l.done));
    return QStringLiteral("%1  %2%  %3 KB/s  ETA %4")
        .arg(l.board, QString::number(100 * qint64(l.done) / l.total).rightJustified(3),
             QString::number(bytesPerSecond / 1024.0, 'f', 1), eta);
}

void LiveLines::erase()
{
    if (m_drawn == 0)
        return;
    std::fprintf(m_terminal, "\x1b[%dA\r\x1b[J", m_drawn);
    m_drawn = 0;
}

void LiveLines::writeAbove(std::FILE *out, const QByteArray &bytes)
{
    const bool sameTerminal = is_terminal(out);
    if (sameTerminal) {
        erase();
        std::fflush(m_terminal);
    }
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
    if (sameTerminal)
        m_changed = true;
}

void LiveLines::redraw()
{
    // The time left moves even when no frame came; a quiet block still redraws once a second.
    if (m_lines.empty()
        || (!(m_changed && m_lastDraw.elapsed() >= REDRAW_MS) && m_lastDraw.elapsed() < 1000))
        return;
    const int columns = terminal_columns(m_terminal);
    QByteArray block;
    if (m_drawn > 0)
        block += "\x1b[" + QByteArray::number(m_drawn) + "A";
    // Lines cut to the width: a wrapped line would break the count of lines to move up.
    for (const Line &l : m_lines)
        block += "\r\x1b[2K" + render(l).left(columns - 1).toLocal8Bit() + '\n';
    std::fwrite(block.constData(), 1, size_t(block.size()), m_terminal);
    std::fflush(m_terminal);
    m_drawn = int(m_lines.size());
    m_changed = false;
    m_lastDraw.restart();
}

void LiveLines::finish()
{
    erase();
    std::fflush(m_terminal);
    m_lines.clear();
}

} // namespace qvota::cli
