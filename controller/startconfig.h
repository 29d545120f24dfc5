// The window's adapter into a run: its start configuration map turned into a run request.
// Free functions, so the rules can be checked one map at a time without running anything.
#pragma once

#include "settingscheck.h"
#include "updaterun.h"

#include <QString>
#include <QVariantMap>

namespace qvota {

// The port name in a serial port list entry such as "COM3 - USB Serial Device": the text before
// the first space, trimmed. An entry that begins with a space yields an empty name.
QString port_name_from_entry(const QString &entry);

// The address in a host address list entry such as "Ethernet - 192.168.0.3": the text after the
// last " - ", or the whole text when there is none, trimmed in both cases.
QString host_ip_from_entry(const QString &entry);

// What the map says, as the user chose it: a key that is absent takes its default, and the
// transport is UART only for exactly "uart".
RunTexts start_texts(const QVariantMap &cfg);

// The map checked and read into a run request (without its image). The failure names the field
// with the window's name for it, as "FIELD VALUE: REASON".
Expected<RunRequest> read_start_request(const QVariantMap &cfg);

} // namespace qvota
