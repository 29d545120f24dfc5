#include "statusreporter.h"

#include <QJsonObject>

namespace qvota::cli {

namespace {

// The one place that reads a board's result for the status: through the fields of its JSON
// result line, whose names are a published schema.
SlotResult slot_result(const BoardResult &result)
{
    const QJsonObject fields = result_fields(result);
    SlotResult slot;
    slot.outcome = result.outcome();
    slot.stage = fields.value(QStringLiteral("stage")).toString();
    slot.message = fields.value(QStringLiteral("message")).toString();
    slot.seconds = fields.value(QStringLiteral("seconds")).toDouble();
    slot.bytes = fields.value(QStringLiteral("bytes")).toInteger();
    slot.time = QDateTime::currentDateTime();
    return slot;
}

} // namespace

void StatusReporter::started(const QString &board, const QString &port, const QString &usbSerial)
{
    m_status.started(board, port);
    m_output.started(board, port, usbSerial);
}

void StatusReporter::logged(const QString &board, const QString &line)
{
    m_output.logged(board, line);
}

void StatusReporter::progressed(const QString &board, int done, int total)
{
    m_status.progressed(board, done, total);
    m_output.progressed(board, done, total);
}

void StatusReporter::staged(const QString &board, RunStage stage)
{
    m_status.staged(board, stage_name(stage));
    m_output.staged(board, stage);
}

void StatusReporter::finished(const BoardResult &result)
{
    m_status.finished(result.label, slot_result(result));
    m_output.finished(result);
}

void StatusReporter::slotChanged(const QString &board, SlotState state)
{
    m_status.slotChanged(board, state);
    m_output.slotChanged(board, state);
}

void StatusReporter::summary(const Tally &tally, int exitCode)
{
    m_output.summary(tally, exitCode);
}

void StatusReporter::refresh()
{
    m_output.refresh();
}

} // namespace qvota::cli
