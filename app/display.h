// Whether a window start can reach a display, asked before the GUI application object exists:
// without one Qt's platform plugin aborts the process with a core dump.
#pragma once

#include <QString>
#include <QStringList>

namespace qvota {

// Why no window can open (the words for the user), or empty when a display may be there. Looks
// at the platform Qt would load: one named with "-platform" among the arguments, else
// QT_QPA_PLATFORM, else the desktop session's; only X11 and Wayland need a display variable.
QString missing_display_reason(const QStringList &arguments);

} // namespace qvota
