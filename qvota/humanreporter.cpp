#include "humanreporter.h"

#include "reportwording.h"
#include "runlines.h"

#include <QMutex>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace qvota::cli {

namespace {

class HumanReporter final : public LiveReporter
{
public:
    explicit HumanReporter(const OutputOptions &options)
        : LiveReporter(options)
        , m_quiet(options.quiet)
        , m_boards(options.boards)
        // https://no-color.org: any non-empty NO_COLOR turns colour off.
        , m_colour(is_terminal(stdout) && qEnvironmentVariableIsEmpty("NO_COLOR"))
    {}

    void started(const QString &board, const QString &port, const QString &usbSerial) override
    {
        const QMutexLocker lock(&m_mutex);
        QString text = port.isEmpty() ? QStringLiteral("start") : QStringLiteral("start on ") + port;
        if (!usbSerial.isEmpty())
            text += QStringLiteral(" (USB serial %1)").arg(usbSerial);
        line(board, text);
        if (m_live)
            m_live->state(board, QStringLiteral("starting"));
    }

    void logged(const QString &board, const QString &text) override
    {
        const QMutexLocker lock(&m_mutex);
        line(board, text);
    }

    void progressed(const QString &board, int done, int total) override
    {
        const QMutexLocker lock(&m_mutex);
        if (m_live)
            m_live->progress(board, done, total);
    }

    void finished(const BoardResult &result) override
    {
        const QMutexLocker lock(&m_mutex);
        // The table follows the order the boards were given in, not the order they finished;
        // a station's later updates of a slot come after its earlier ones.
        const auto rank = [this](const BoardResult &r) { return m_boards.indexOf(r.label); };
        const auto at = std::upper_bound(
            m_results.begin(), m_results.end(), result,
            [&](const BoardResult &a, const BoardResult &b) { return rank(a) < rank(b); });
        m_results.insert(at, result);
        line(result.label, paint(result_text(result), result.outcome()));
        if (m_live)
            m_live->state(result.label, result_text(result));
    }

    void slotChanged(const QString &board, SlotState state) override
    {
        const QMutexLocker lock(&m_mutex);
        line(board, state_text(state));
        if (m_live)
            m_live->state(board, state_text(state));
    }

    void summary(const Tally &tally, int exitCode) override
    {
        const QMutexLocker lock(&m_mutex);
        if (m_live)
            m_live->finish();
        QByteArray text = table().toLocal8Bit();
        text += QStringLiteral("%1 verified, %2 failed, %3 cancelled (exit code %4)\n")
                    .arg(QString::number(tally.verified), QString::number(tally.failed),
                         QString::number(tally.cancelled), QString::number(exitCode))
                    .toLocal8Bit();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fflush(stdout);
    }

private:
    void line(const QString &board, const QString &text)
    {
        if (m_quiet)
            return;
        const QByteArray bytes =
            (stamped(QLatin1Char('[') + board + QLatin1String("] ") + text) + QLatin1Char('\n'))
                .toLocal8Bit();
        if (m_live) {
            m_live->writeAbove(stdout, bytes);
            return;
        }
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    }

    QString paint(const QString &text, Outcome outcome) const
    {
        if (!m_colour)
            return text;
        const char *code = outcome == Outcome::Verified ? "32"
                           : outcome == Outcome::Failed ? "31"
                                                        : "33";
        return QLatin1String("\x1b[") + QLatin1String(code) + QLatin1Char('m') + text
            + QLatin1String("\x1b[0m");
    }

    // board, result, stage, bytes, seconds, rate, message; the result column painted after the
    // padding, so escape codes never count as width.
    QString table() const
    {
        const QStringList heads{QStringLiteral("board"),   QStringLiteral("result"),
                                QStringLiteral("stage"),   QStringLiteral("bytes"),
                                QStringLiteral("seconds"), QStringLiteral("rate"),
                                QStringLiteral("message")};
        QList<QStringList> rows;
        for (const BoardResult &r : m_results) {
            const QString message = r.run.ok() ? r.run.warmBootAnswer : r.message();
            rows.append({r.label, outcome_name(r.outcome()), stage_name(r.run.stage),
                         QString::number(r.run.bytesAcked), QString::number(r.run.seconds, 'f', 1),
                         QString::number(rate(r.run) / 1024.0, 'f', 1) + QStringLiteral(" KB/s"),
                         message});
        }
        QList<qsizetype> widths;
        for (const QString &head : heads)
            widths.append(head.size());
        for (const QStringList &row : rows)
            for (qsizetype c = 0; c < row.size(); ++c)
                widths[c] = std::max(widths[c], row[c].size());
        const auto format = [&](const QStringList &cells, std::optional<Outcome> outcome) {
            QString out;
            for (qsizetype c = 0; c < cells.size(); ++c) {
                const bool numeric = c >= 3 && c <= 5;
                QString cell = c + 1 == cells.size() ? cells[c]
                               : numeric ? cells[c].rightJustified(widths[c])
                                         : cells[c].leftJustified(widths[c]);
                if (c == 1 && outcome)
                    cell = paint(cell, *outcome);
                out += cell + (c + 1 == cells.size() ? QStringLiteral("\n") : QStringLiteral("  "));
            }
            return out;
        };
        QString out = format(heads, std::nullopt);
        for (qsizetype i = 0; i < rows.size(); ++i)
            out += format(rows[i], m_results[i].outcome());
        return out;
    }

    const bool m_quiet;
    const QStringList m_boards;
    const bool m_colour;
    QList<BoardResult> m_results;
};

} // namespace

std::unique_ptr<Reporter> make_human_reporter(const OutputOptions &options)
{
    return std::make_unique<HumanReporter>(options);
}

} // namespace qvota::cli
