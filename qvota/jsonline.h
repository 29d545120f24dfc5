// The frame of every JSON line qvota writes: schema version, event, board and time.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace qvota::cli {

// The schema version; later versions only add fields.
inline constexpr int JSON_VERSION = 1;

// ISO-8601 local time with milliseconds and the offset spelled out: "2026-12-08T14:03:07.125+01:00".
QString iso_time(const QDateTime &time = QDateTime::currentDateTime());

// {"v": 1, "event": event, "time": now}, with "board" when board is not empty.
QJsonObject event_object(const QString &event, const QString &board = {});

// The object on one line, with its line end.
QByteArray json_line(const QJsonObject &object);

} // namespace qvota::cli
