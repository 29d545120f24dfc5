// The history file: one JSON line per finished board, appended so that many runs (and many
// qvota processes) can share one file, and so that a killed process never leaves half a line.
#pragma once

#include "boardresult.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <memory>

namespace qvota::cli {

// What the history says about the image of a run.
struct ImageFacts
{
    QString path;   // absolute
    QString sha256; // of the whole file, lower-case hex
};

// $XDG_STATE_HOME/quelvane/qvota-history.jsonl, with ~/.local/state when XDG_STATE_HOME is
// unset or not absolute.
QString default_history_path();

// The result's fields (result_fields), with date, board, usbSerial (also when empty), image,
// imageSha256 and tool.
QJsonObject history_record(const BoardResult &result, const ImageFacts &image);

class HistoryFile
{
public:
    // Opens path for appending, creating it and its folder.
    static Expected<std::unique_ptr<HistoryFile>> open(const QString &path);
    // Takes over an open descriptor.
    explicit HistoryFile(int fd);
    ~HistoryFile();
    HistoryFile(const HistoryFile &) = delete;
    HistoryFile &operator=(const HistoryFile &) = delete;

    // One write of the whole line: with O_APPEND the line lands whole after whatever other
    // writers appended. False when the system took less than all of it.
    bool append(const QByteArray &line);

private:
    int m_fd;
};

} // namespace qvota::cli
