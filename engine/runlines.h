// The lines a run says before its flow, alike in every front end, and the time stamp that
// every front end puts before a log line.
#pragma once

#include "container.h"

#include <QString>
#include <QTime>

namespace qvota {

// "qvbit v2 OK: plain=SIZE crc32=CRC (on-chip decrypt)"; with the container's size
// "qvbit v2 OK: plain=SIZE container=SIZE crc32=CRC (on-chip decrypt)", as the window says it.
QString container_line(const ContainerInfo &info, bool withContainerSize);

// "opened PORT @BAUD" or "udp BOARD:PORT <- HOST:PORT", from the texts as the user gave them;
// written before the link is opened, so a link that never opens is still named.
QString serial_link_line(const QString &port, const QString &baud);
QString udp_link_line(const QString &boardIp, const QString &boardPort, const QString &hostIp,
                      const QString &hostPort);

// "file=PATH", once the link is open.
QString file_line(const QString &path);

// A log line as the front ends show it: the local time "HH:mm:ss.zzz", a blank, the line.
QString stamped(const QString &line, const QTime &time = QTime::currentTime());

} // namespace qvota
