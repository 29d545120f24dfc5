#include "simconfig.h"

#include <QCommandLineParser>

namespace qvota::sim {

namespace {

// Reads an option's value as an integer of at least minimum; leaves target alone when the
// option is absent.
bool read_int(const QCommandLineParser &parser, const QString &name, int minimum, int *target,
              QString *error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < minimum) {
        *error = QStringLiteral("--%1 needs an integer >= %2, got '%3'")
                     .arg(name, QString::number(minimum), parser.value(name));
        return false;
    }
    *target = value;
    return true;
}

bool read_udp_endpoint(const QString &text, SimConfig *config, QString *error)
{
    // "ADDR:PORT", or a bare port on the loopback address.
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    const QString address = colon < 0 ? config->udpAddress : text.left(colon);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535 || address.isEmpty()) {
        *error = QStringLiteral("--udp needs ADDR:PORT, got '%1'").arg(text);
        return false;
    }
    config->udpAddress = address;
    config->udpPort = quint16(port);
    return true;
}

} // namespace

bool parse_serve_args(const QStringList &args, SimConfig *config, QString *error)
{
    const auto valueOption = [](const QString &name, const QString &valueName) {
        return QCommandLineOption(name, QString(), valueName);
    };
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({
        valueOption(QStringLiteral("udp"), QStringLiteral("addr:port")),
        QCommandLineOption(QStringLiteral("pty")),
        valueOption(QStringLiteral("link"), QStringLiteral("path")),
        valueOption(QStringLiteral("jedec"), QStringLiteral("id")),
        valueOption(QStringLiteral("erase-ms"), QStringLiteral("n")),
        valueOption(QStringLiteral("readback-ms"), QStringLiteral("n")),
        valueOption(QStringLiteral("latency-ms"), QStringLiteral("n")),
        valueOption(QStringLiteral("baud"), QStringLiteral("n")),
        valueOption(QStringLiteral("record"), QStringLiteral("file")),
        valueOption(QStringLiteral("silent-identify"), QStringLiteral("n")),
        valueOption(QStringLiteral("noise-lines"), QStringLiteral("n")),
        valueOption(QStringLiteral("erase-reply"), QStringLiteral("text")),
        QCommandLineOption(QStringLiteral("no-erase-reply")),
        valueOption(QStringLiteral("drop-ack"), QStringLiteral("i")),
        valueOption(QStringLiteral("never-ack"), QStringLiteral("i")),
        valueOption(QStringLiteral("stray-after"), QStringLiteral("i")),
        QCommandLineOption(QStringLiteral("rxdone-instead-of-last-ack")),
        QCommandLineOption(QStringLiteral("bad-rx-crc")),
        QCommandLineOption(QStringLiteral("bad-img-crc")),
        QCommandLineOption(QStringLiteral("no-rxdone")),
        QCommandLineOption(QStringLiteral("no-banner")),
        QCommandLineOption(QStringLiteral("double-banner")),
        valueOption(QStringLiteral("drop-link-at"), QStringLiteral("i")),
        valueOption(QStringLiteral("reset-at"), QStringLiteral("i")),
    });
    // The parser takes the first entry as the program name.
    if (!parser.parse(QStringList{QStringLiteral("serve")} + args)) {
        *error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error =
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return false;
    }
    if (parser.isSet(QStringLiteral("udp")) && parser.isSet(QStringLiteral("pty"))) {
        *error = QStringLiteral("--udp and --pty exclude each other");
        return false;
    }
    if (parser.isSet(QStringLiteral("pty"))) {
#ifdef Q_OS_UNIX
        config->transport = SimConfig::Transport::Pty;
#else
        *error = QStringLiteral("--pty needs a POSIX system");
        return false;
#endif
    }
    if (parser.isSet(QStringLiteral("udp"))
        && !read_udp_endpoint(parser.value(QStringLiteral("udp")), config, error))
        return false;

    if (parser.isSet(QStringLiteral("jedec")))
        config->jedecId = parser.value(QStringLiteral("jedec"));
    config->ptyLink = parser.value(QStringLiteral("link"));
    config->recordPath = parser.value(QStringLiteral("record"));

    FaultConfig &faults = config->faults;
    const struct
    {
        const char *name;
        int minimum;
        int *target;
    } ints[] = {
        {"erase-ms", 0, &config->eraseMs},
        {"readback-ms", 0, &config->readbackMs},
        {"latency-ms", 0, &config->latencyMs},
        {"baud", 0, &config->baud},
        {"silent-identify", 0, &faults.silentIdentify},
        {"noise-lines", 0, &faults.noiseLines},
        {"drop-ack", 0, &faults.dropAck},
        {"never-ack", 0, &faults.neverAck},
        {"stray-after", 0, &faults.strayAfter},
        {"drop-link-at", 0, &faults.dropLinkAt},
        {"reset-at", 0, &faults.resetAt},
    };
    for (const auto &entry : ints) {
        if (!read_int(parser, QLatin1String(entry.name), entry.minimum, entry.target, error))
            return false;
    }

    if (parser.isSet(QStringLiteral("erase-reply")))
        faults.eraseReply = parser.value(QStringLiteral("erase-reply"));
    faults.noEraseReply = parser.isSet(QStringLiteral("no-erase-reply"));
    faults.rxdoneInsteadOfLastAck = parser.isSet(QStringLiteral("rxdone-instead-of-last-ack"));
    faults.badRxCrc = parser.isSet(QStringLiteral("bad-rx-crc"));
    faults.badImgCrc = parser.isSet(QStringLiteral("bad-img-crc"));
    faults.noRxdone = parser.isSet(QStringLiteral("no-rxdone"));
    faults.noBanner = parser.isSet(QStringLiteral("no-banner"));
    faults.doubleBanner = parser.isSet(QStringLiteral("double-banner"));
    return true;
}

QString usage_text()
{
    return QStringLiteral(
        "usage:\n"
        "  qvota-board-sim serve --udp ADDR:PORT [options]   (default 127.0.0.1:7777; port 0 "
        "picks a free port)\n"
        "  qvota-board-sim serve --pty [--link PATH] [options]\n"
        "  qvota-board-sim pack PLAIN_IN CONTAINER_OUT\n"
        "  qvota-board-sim info CONTAINER\n"
        "options of serve:\n"
        "  --jedec ID            id reported to \"j\" (default C86018)\n"
        "  --erase-ms N          simulated erase time (default 50)\n"
        "  --readback-ms N       simulated readback time (default 20)\n"
        "  --latency-ms N        extra delay before every reply (default 0)\n"
        "  --baud N              pty only: pace the pty like a UART at N baud, 8N1\n"
        "  --record FILE         write what the board saw as JSON\n"
        "faults:\n"
        "  --silent-identify N   no answer to the first N \"j\"\n"
        "  --noise-lines N       N text lines before each JEDEC line\n"
        "  --erase-reply TEXT    send TEXT instead of READY\n"
        "  --no-erase-reply      send nothing after \"U\"\n"
        "  --drop-ack I          lose the first ack of frame I (the frame is stored)\n"
        "  --never-ack I         never store or ack frame I\n"
        "  --stray-after I       send stray non-ack bytes after the ack of frame I\n"
        "  --rxdone-instead-of-last-ack\n"
        "                        answer the last frame with the RXDONE line instead of K\n"
        "  --bad-rx-crc          report a wrong receive CRC\n"
        "  --bad-img-crc         report a wrong readback CRC\n"
        "  --no-rxdone           no RXDONE line after the transfer\n"
        "  --no-banner           no answer to \"b\"\n"
        "  --double-banner       two answer lines to \"b\"\n"
        "  --drop-link-at I      the link dies when frame I arrives\n"
        "  --reset-at I          the board reboots when frame I arrives\n");
}

} // namespace qvota::sim
