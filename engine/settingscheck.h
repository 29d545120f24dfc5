// Checks of a run's settings as the user typed them, before any file is opened or any port is
// touched: a value that cannot mean what the user wants (a port beyond 16 bits, a target the
// board does not have, no tries at all) is refused with a message that names it, instead of
// being narrowed, sent to the board raw or found out after APP2 was erased.
#pragma once

#include "expected.h"
#include "updaterun.h"

#include <QString>

namespace qvota {

// The fields of one run's settings that a user types. Filled twice by a front end: once with the
// values exactly as given, once with its names for them ("--udp-port", "board port"). Only the
// fields of the chosen transport are looked at; an empty name leaves its field out (a front end
// without that setting).
struct SettingsFields
{
    QString port;
    QString baud;
    QString boardIp;
    QString boardPort;
    QString hostIp;
    QString hostPort;
    QString target;
    QString retries;
};

// What the user gave for one run: the transport, the fields as typed, and whether the warm
// boot was asked for, by its switch or by naming a target (which asks for it too, even empty).
struct RunTexts
{
    bool serial = false;
    SettingsFields values;
    bool warmBoot = false;
    bool targetGiven = false;
};

// Checks the texts and reads them into a run request (without its image): its link and its flow
// configuration. The failure is settings_problem's text.
// Fields without a label keep their defaults.
Expected<RunRequest> read_run_settings(const RunTexts &texts, const SettingsFields &labels);

// The line that names the link, from the texts as the user gave them (runlines.h).
QString link_line(const RunTexts &texts);

// The first problem, as "LABEL VALUE: REASON" (the value quoted when it is empty or has blanks),
// or empty when every field can be used.
QString settings_problem(bool serial, const SettingsFields &values, const SettingsFields &labels);

// Whether text is a decimal whole number within [lowest, highest], written plainly (digits only:
// no sign, blanks or base prefix).
bool whole_number_in(const QString &text, qint64 lowest, qint64 highest);

// The highest number of tries per frame taken: past it a silent board would hold a run for hours.
inline constexpr int MAX_RETRIES = 100;

} // namespace qvota
