// Checks of a run's settings as the user typed them, before any file is opened or any port is
// touched: a value that cannot mean what the user wants (a port beyond 16 bits, a target the
// board does not have, no tries at all) is refused with a message that names it, instead of
// being narrowed, sent to the board raw or found out after APP2 was erased.
#pragma once

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

// The first problem, as "LABEL VALUE: REASON" (the value quoted when it is empty or has blanks),
// or empty when every field can be used.
QString settings_problem(bool serial, const SettingsFields &values, const SettingsFields &labels);

// Whether text is a decimal whole number within [lowest, highest], written plainly (digits only:
// no sign, blanks or base prefix).
bool whole_number_in(const QString &text, qint64 lowest, qint64 highest);

// The highest number of tries per frame taken: past it a silent board would hold a run for hours.
inline constexpr int MAX_RETRIES = 100;

} // namespace qvota
