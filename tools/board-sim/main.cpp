// qvota-board-sim: the board's update firmware as the host sees it, over UDP or a pty, so that
// the host tool can be run and tested without hardware.
#include "commands.h"
#include "simconfig.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    const QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.value(0);
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("serve"))
        return qvota::sim::run_serve(rest);
    if (command == QLatin1String("pack"))
        return qvota::sim::run_pack(rest);
    if (command == QLatin1String("info"))
        return qvota::sim::run_info(rest);

    const bool help = command == QLatin1String("--help") || command == QLatin1String("-h")
                      || command == QLatin1String("help");
    const QByteArray usage = qvota::sim::usage_text().toLocal8Bit();
    std::fwrite(usage.constData(), 1, size_t(usage.size()), help ? stdout : stderr);
    return help ? 0 : 2;
}
