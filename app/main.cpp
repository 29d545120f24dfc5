// Process entry: "--cli" as the first argument runs one update on the console, anything else
// starts the window.
#include "cli.h"
#include "console.h"
#include "display.h"
#include "window.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Built before any application object so that the runner sees exactly what was passed.
    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    if (arguments.size() >= 2 && arguments.at(1) == QLatin1String("--cli")) {
        qvota::attach_parent_console();
        qvota::keep_running_without_output();
        const QCoreApplication app(argc, argv);
        // The runner's parser takes "--cli" as the program name, so the options are exactly
        // what follows it.
        return qvota::run_cli(arguments.mid(1));
    }
    // Said plainly instead of the platform plugin's abort; the exit code is that of a window
    // that could not be created.
    if (const QString reason = qvota::missing_display_reason(arguments); !reason.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", argv[0], qPrintable(reason));
        return -1;
    }
    return qvota::run_window(argc, argv);
}
