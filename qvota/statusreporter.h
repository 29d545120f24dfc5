// A reporter that keeps the station's status up to date and passes every event on unchanged to
// the reporter that writes the output. It records before it passes on, so whatever a reader of
// the output has seen, the status already holds.
#pragma once

#include "reporter.h"
#include "stationstatus.h"

namespace qvota::cli {

class StatusReporter final : public Reporter
{
public:
    StatusReporter(Reporter &output, StationStatus &status)
        : m_output(output)
        , m_status(status)
    {}

    void started(const QString &board, const QString &port, const QString &usbSerial) override;
    void logged(const QString &board, const QString &line) override;
    void progressed(const QString &board, int done, int total) override;
    void staged(const QString &board, RunStage stage) override;
    void finished(const BoardResult &result) override;
    void slotChanged(const QString &board, SlotState state) override;
    void summary(const Tally &tally, int exitCode) override;
    void refresh() override;

private:
    Reporter &m_output;
    StationStatus &m_status;
};

} // namespace qvota::cli
