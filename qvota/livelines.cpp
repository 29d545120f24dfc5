#include "livelines.h"

#include <QtGlobal>

#ifndef Q_OS_WIN
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>

namespace qvota::cli {

namespace {

constexpr int REDRAW_MS = 250;

struct TerminalSize
{
    int rows = 24;
    int columns = 80;
};

TerminalSize terminal_size(std::FILE *stream)
{
    TerminalSize size;
#ifndef Q_OS_WIN
    winsize window{};
    if (::ioctl(fileno(stream), TIOCGWINSZ, &window) == 0) {
        if (window.ws_row > 0)
            size.rows = window.ws_row;
        if (window.ws_col > 0)
            size.columns = window.ws_col;
    }
#else
    Q_UNUSED(stream);
#endif
    return size;
}

QString duration(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(QString::number(seconds / 60),
                                       QString::number(seconds % 60).rightJustified(2, QLatin1Char('0')));
}

QString kilobytes(double bytesPerSecond)
{
    return QString::number(bytesPerSecond / 1024.0, 'f', 1) + QStringLiteral(" KB/s");
}

// Clears the n rows from the cursor down, one by one, and comes back: some terminals keep a
// screen that is cleared whole ("\x1b[J" from its first row) in their scrollback.
QByteArray clear_rows(int n)
{
    QByteArray bytes;
    for (int i = 0; i < n; ++i)
        bytes += i + 1 < n ? "\r\x1b[2K\n" : "\r\x1b[2K";
    if (n > 1)
        bytes += "\x1b[" + QByteArray::number(n - 1) + "A";
    return bytes;
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

LiveLines::LiveLines(std::FILE *terminal, const QStringList &boards, qint64 imageBytes)
    : m_terminal(terminal)
    , m_imageBytes(imageBytes)
{
    for (const QString &board : boards)
        line(board);
    m_changed = false;
    m_lastDraw.start();
}

LiveLines::Line &LiveLines::line(const QString &board)
{
    const auto found = std::find_if(m_lines.begin(), m_lines.end(),
                                    [&](const Line &l) { return l.board == board; });
    if (found != m_lines.end())
        return *found;
    Line added;
    added.board = board;
    m_lines.push_back(added);
    return m_lines.back();
}

void LiveLines::progress(const QString &board, int done, int total)
{
    Line &l = line(board);
    if (!l.since.isValid() || done < l.done)
        l.since.start();
    l.done = done;
    l.total = total;
    l.stage = RunStage::Transfer;
    l.state.clear();
    m_changed = true;
}

void LiveLines::state(const QString &board, const QString &text)
{
    Line &l = line(board);
    l.state = text;
    l.stage = RunStage::Link;
    l.done = 0;
    l.total = 0;
    l.since.invalidate();
    m_changed = true;
}

void LiveLines::stage(const QString &board, RunStage stage)
{
    Line &l = line(board);
    if (l.stage == RunStage::Transfer && stage != RunStage::Transfer)
        l.rate = rate(l);
    l.stage = stage;
    l.stageSince.start();
    l.state.clear();
    m_changed = true;
}

double LiveLines::rate(const Line &l) const
{
    if (!l.since.isValid() || l.since.elapsed() <= 0)
        return 0;
    return bytes_per_second(frame_bytes(l.done, m_imageBytes), double(l.since.elapsed()) / 1000.0);
}

bool LiveLines::active(const Line &l)
{
    return l.state.isEmpty() && l.stage != RunStage::Link && l.stage != RunStage::Done;
}

QString LiveLines::render(const Line &l) const
{
    if (!l.state.isEmpty())
        return QStringLiteral("%1  %2").arg(l.board, l.state);
    const qint64 stageSeconds = l.stageSince.isValid() ? l.stageSince.elapsed() / 1000 : 0;
    switch (l.stage) {
    case RunStage::Link:
    case RunStage::Done:
        return QStringLiteral("%1  starting").arg(l.board);
    case RunStage::Identify:
        return QStringLiteral("%1  identifying the flash").arg(l.board);
    case RunStage::Erase:
        return QStringLiteral("%1  erasing APP2").arg(l.board);
    case RunStage::Transfer:
        break;
    case RunStage::RxCrc:
    case RunStage::ImgCrc:
        return QStringLiteral("%1  100%  %2  verifying").arg(l.board, kilobytes(l.rate));
    case RunStage::WarmBoot:
        return QStringLiteral("%1  100%  %2  warm boot %3 s")
            .arg(l.board, kilobytes(l.rate), QString::number(stageSeconds));
    }
    if (l.total <= 0)
        return QStringLiteral("%1  sending").arg(l.board);
    const double seconds = l.since.isValid() ? double(l.since.elapsed()) / 1000.0 : 0;
    const double bytesPerSecond = rate(l);
    QString eta = QStringLiteral("-");
    if (l.done > 0 && seconds > 0)
        eta = duration(qint64((l.total - l.done) * seconds / l.done));
    return QStringLiteral("%1  %2%  %3  ETA %4")
        .arg(l.board, QString::number(100 * qint64(l.done) / l.total).rightJustified(3),
             kilobytes(bytesPerSecond), eta);
}

QStringList LiveLines::render(int rows, int columns) const
{
    // One row stays free for the cursor: a block as tall as the screen would scroll it, and the
    // lines that scroll off can no longer be moved up to.
    const std::size_t room = std::size_t(std::max(1, rows - 1));
    std::vector<bool> shown(m_lines.size(), m_lines.size() <= room);
    if (m_lines.size() > room) {
        // Updates under way first, then the rest, each in the given order; the last row says
        // what is left out.
        std::size_t left = room - 1;
        for (const bool wantActive : {true, false}) {
            for (std::size_t i = 0; i < m_lines.size() && left > 0; ++i) {
                if (!shown[i] && active(m_lines[i]) == wantActive) {
                    shown[i] = true;
                    --left;
                }
            }
        }
    }
    QStringList block;
    int hidden = 0;
    int hiddenActive = 0;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (shown[i]) {
            block << render(m_lines[i]);
        } else {
            ++hidden;
            hiddenActive += active(m_lines[i]) ? 1 : 0;
        }
    }
    if (hidden > 0)
        block << QStringLiteral("... %1 more boards (%2 updating)")
                     .arg(QString::number(hidden), QString::number(hiddenActive));
    // Lines cut to the width: a wrapped line would break the count of lines to move up.
    for (QString &text : block)
        text.truncate(std::max(1, columns - 1));
    return block;
}

void LiveLines::erase()
{
    if (m_drawn == 0)
        return;
    const QByteArray bytes = "\x1b[" + QByteArray::number(m_drawn) + "A" + clear_rows(m_drawn);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_terminal);
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
    const TerminalSize size = terminal_size(m_terminal);
    const QStringList lines = render(size.rows, size.columns);
    QByteArray block;
    if (m_drawn > 0)
        block += "\x1b[" + QByteArray::number(m_drawn) + "A";
    for (const QString &text : lines)
        block += "\r\x1b[2K" + text.toLocal8Bit() + '\n';
    // A block that shrank (the terminal was made smaller) leaves no old rows behind.
    if (const int left = m_drawn - int(lines.size()); left > 0)
        block += clear_rows(left);
    std::fwrite(block.constData(), 1, size_t(block.size()), m_terminal);
    std::fflush(m_terminal);
    m_drawn = int(lines.size());
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
