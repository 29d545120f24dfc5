// The window's start configuration map turned into the settings of one run: which link to
// build, with what addresses, and how to warm-boot. Free functions, so the rules can be checked
// one map at a time without running anything.
#pragma once

#include "linksettings.h"
#include "otaflow.h"
#include "settingscheck.h"

#include <QString>
#include <QVariantMap>

namespace qvota {

// A run's settings: its link, and the image and warm boot.
struct StartSettings : LinkSettings
{
    QString file;
    QString target;
    bool warmBoot = false;
};

// The port name in a serial port list entry such as "COM3 - USB Serial Device": the text before
// the first space, trimmed. An entry that begins with a space yields an empty name.
QString port_name_from_entry(const QString &entry);

// The address in a host address list entry such as "Ethernet - 192.168.0.3": the text after the
// last " - ", or the whole text when there is none, trimmed in both cases.
QString host_ip_from_entry(const QString &entry);

// Reads every key with its default; present keys go through the usual variant conversions, so
// an integer key holding "abc" or "" reads as 0, and the ports keep only their low 16 bits.
StartSettings read_start_settings(const QVariantMap &cfg);

// Why the map cannot make a run, as "FIELD VALUE: REASON" with the window's name for the field,
// or empty. Looks at the values as given, before read_start_settings narrows them.
QString start_settings_problem(const QVariantMap &cfg);

// The log line that names the link before it is opened: "opened <port> @<baud>" or
// "udp <board>:<port> <- <host>:<port>".
QString link_log_line(const StartSettings &settings);

// The flow configuration of a run: every field at its default except the expected CRC (the
// container information's "crc32" hex text), the target and the warm-boot request.
OtaConfig make_ota_config(const StartSettings &settings, const QVariantMap &containerInfo);

} // namespace qvota
