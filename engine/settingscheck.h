// Checks of a run's settings as the user typed them, before any file is opened or any port is
// touched: a value that cannot mean what the user wants (a port beyond 16 bits, a target the
// board does not have, no tries at all) is refused with a message that names it, instead of
// being narrowed, sent to the board raw or found out after APP2 was erased.
#pragma once

#include <QString>

namespace qvota {

// The settings of one run as texts, exactly as given; only the fields of the chosen transport
// are looked at. An empty label leaves its field out (a front end without that setting).
struct SettingsTexts
{
    bool serial = false;
    QString port;
    QString baud;
    QString boardIp;
    QString boardPort;
    QString hostIp;
    QString hostPort;
    QString target;
    QString retries;
};

// What each front end calls the fields in its messages ("--udp-port", "board port").
struct SettingsLabels
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
QString settings_problem(const SettingsTexts &texts, const SettingsLabels &labels);

// The highest number of tries per frame taken: past it a silent board would hold a run for hours.
inline constexpr int MAX_RETRIES = 100;

} // namespace qvota
