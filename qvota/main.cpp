// qvota: the production-line front end of the engine. Many boards at once, machine-readable
// results and an unattended station; it links no GUI library, so a rack computer without a
// display runs it.
#include "commands.h"
#include "exitcodes.h"
#include "rundefaults.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// The defaults come from the run's table, so the help never drifts from what a run takes.
QString help()
{
    return QStringLiteral(
    "Usage: qvota COMMAND [options]\n"
    "Updates the firmware of PGL25G boards over UART or UDP, many at once, for production\n"
    "lines, test racks and CI.\n"
    "\n"
    "Commands:\n"
    "  flash IMAGE --board SPEC ...    update every board at the same time\n"
    "  station IMAGE --board SPEC ...  unattended: update each board that arrives at a slot\n"
    "  info IMAGE ...                  what each image container holds, or why it is refused\n"
    "  ports                           serial ports (USB ids, serial numbers) and host addresses\n"
    "\n"
    "Board SPEC:\n"
    "  udp:ADDRESS[:PORT][,bind=ADDRESS[:PORT]]  board port %1 by default; IPv6 in brackets;\n"
    "                                            without bind= the system chooses the local side\n"
    "  uart:DEVICE[@BAUD]                        %2 baud by default\n"
    "  uart:serial=NUMBER[@BAUD]                 the port whose USB serial number is NUMBER\n"
    "\n"
    "Exit codes:\n"
    "  0    every board verified (info: every image accepted)\n"
    "  1    at least one board failed or was cancelled\n"
    "  2    usage error: bad option, SPEC or boards file, one board named twice\n"
    "  3    image refused\n"
    "  130  interrupted (Ctrl-C or SIGTERM); results and summary are still written\n"
    "\n"
    "Options:\n"
    "  -h, --help     shows this help; 'qvota COMMAND --help' shows a command's options\n"
    "  -v, --version  shows the version\n"
    "\n"
    "Environment:\n"
    "  NO_COLOR        when set and not empty, no colour in human output\n"
    "  XDG_STATE_HOME  where station keeps its history (quelvane/qvota-history.jsonl)\n")
        .arg(QString::number(qvota::defaults::BOARD_PORT), QString::number(qvota::defaults::BAUD));
}

int print(std::FILE *stream, const QString &text, int exitCode)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    return exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvota"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVOTA_VERSION));

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    using namespace qvota::cli;
    if (command == QLatin1String("flash"))
        return run_flash(rest);
    if (command == QLatin1String("station"))
        return run_station(rest);
    if (command == QLatin1String("info"))
        return run_info(rest);
    if (command == QLatin1String("ports"))
        return run_ports(rest);
    if (command == QLatin1String("--version") || command == QLatin1String("-v"))
        return print(stdout, QStringLiteral("qvota " QVOTA_VERSION "\n"), 0);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help"))
        return print(stdout, help(), 0);
    if (command.isEmpty())
        return print(stderr, help(), EXIT_USAGE);
    std::fprintf(stderr, "qvota: unknown command '%s'\nTry 'qvota --help'.\n",
                 qPrintable(command));
    return EXIT_USAGE;
}
