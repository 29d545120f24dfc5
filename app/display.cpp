#include "display.h"

#include <QtGlobal>

namespace qvota {

namespace {

QString platform_requested(const QStringList &arguments)
{
    const qsizetype at = arguments.indexOf(QLatin1String("-platform"));
    if (at >= 0 && at + 1 < arguments.size())
        return arguments.at(at + 1);
    return qEnvironmentVariable("QT_QPA_PLATFORM");
}

} // namespace

QString missing_display_reason(const QStringList &arguments)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    // A platform list such as "wayland;xcb" is tried in order: its first entry decides.
    const QString platform = platform_requested(arguments).section(u';', 0, 0).section(u':', 0, 0);
    const bool noX11 = qEnvironmentVariableIsEmpty("DISPLAY");
    const bool noWayland = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool missing = platform.isEmpty()                          ? noX11 && noWayland
        : platform == QLatin1String("xcb")                           ? noX11
        : platform.startsWith(QLatin1String("wayland"))              ? noWayland
                                                                     : false;
    if (missing) {
        return QStringLiteral("no display found (DISPLAY and WAYLAND_DISPLAY are not set), so "
                              "the window cannot open. To update a board without a window, run "
                              "it with --cli first; --cli --help lists the options.");
    }
#else
    Q_UNUSED(arguments);
#endif
    return {};
}

} // namespace qvota
