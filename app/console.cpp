#include "console.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#    include <cstdio>
#    include <windows.h>
#else
#    include <csignal>
#endif

namespace qvota {

void attach_parent_console()
{
#ifdef Q_OS_WIN
    // A caller's redirection to a file or pipe, or an inherited console, must stay in place:
    // only a truly unusable handle is replaced.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const bool unusable =
        out == nullptr || out == INVALID_HANDLE_VALUE
        || (GetFileType(out) == FILE_TYPE_UNKNOWN && GetLastError() == ERROR_INVALID_HANDLE);
    if (!unusable)
        return;
    // Started without a console (from a desktop shell): the run goes on with no output.
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    FILE *stream = nullptr;
    freopen_s(&stream, "CONOUT$", "w", stdout);
    freopen_s(&stream, "CONOUT$", "w", stderr);
    freopen_s(&stream, "CONIN$", "r", stdin);
#endif
}

void keep_running_without_output()
{
#ifndef Q_OS_WIN
    // A write to a closed pipe then fails with EPIPE; Windows has no such signal.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

} // namespace qvota
