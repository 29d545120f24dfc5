// qvota info: what each container holds, or why the flow would refuse it.
#include "commands.h"

#include "boardresult.h"
#include "exitcodes.h"
#include "jsonline.h"
#include "runsetup.h"

#include "imagefile.h"
#include "rundefaults.h"
#include "otaflow.h"

#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QJsonObject>

#include <cstdio>

namespace qvota::cli {

namespace {

void write(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

// The least time the transfer takes on a UART at baud (8N1, ten bits a byte): every frame,
// its acknowledgement, nothing else. Erase and readback come on top.
double least_wire_seconds(qint64 containerSize, int baud)
{
    return double(transfer_wire_bytes(containerSize)) * 10.0 / baud;
}

} // namespace

int run_info(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows what each image container holds: plain and container size, the CRC-32 the\n"
        "board must report, frames, the SHA-256 of the file and the least wire time at the\n"
        "baud; or why it is refused. Exit code 0 when every image is accepted, 3 when one is\n"
        "refused, 2 for a usage error."));
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help.")};
    const QCommandLineOption baud{
        QStringLiteral("baud"),
        QStringLiteral("UART rate for the wire time (default %1).").arg(defaults::BAUD),
        QStringLiteral("N"), QString::number(defaults::BAUD)};
    const QCommandLineOption json{QStringLiteral("json"),
                                  QStringLiteral("Writes one JSON line per image on stdout.")};
    parser.addOptions({help, baud, json});
    parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("Image containers."),
                                 QStringLiteral("IMAGE..."));
    if (!parser.parse(QStringList{QStringLiteral("qvota")} + arguments))
        return usage_error(QStringLiteral("info"), parser.errorText());
    if (parser.isSet(help)) {
        write(QStringLiteral("Usage: qvota info IMAGE... [--baud N] [--json]\n")
              + parser.helpText().section(QLatin1Char('\n'), 1));
        return EXIT_ALL_VERIFIED;
    }
    bool ok = false;
    const int rate = parser.value(baud).toInt(&ok);
    if (!ok || rate <= 0)
        return usage_error(QStringLiteral("info"),
                           QStringLiteral("--baud must be a positive number, got '%1'")
                               .arg(parser.value(baud)));
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty())
        return usage_error(QStringLiteral("info"), QStringLiteral("no IMAGE given"));

    int exitCode = EXIT_ALL_VERIFIED;
    for (const QString &path : paths) {
        const Expected<Image> image = load_image(path);
        const QString error = image ? image_size_problem(image->bytes.size()) : image.message();
        QJsonObject object = event_object(QStringLiteral("image"));
        object.insert(QStringLiteral("path"), path);
        object.insert(QStringLiteral("accepted"), error.isEmpty());
        if (!error.isEmpty()) {
            exitCode = EXIT_IMAGE_REFUSED;
            object.insert(QStringLiteral("message"), error);
            write(parser.isSet(json) ? QString::fromUtf8(json_line(object))
                                     : QStringLiteral("%1: refused: %2\n").arg(path, error));
            continue;
        }
        const qint64 containerSize = image->bytes.size();
        const qint64 plainSize = image->info.size;
        const QString crc = crc32_text(image->info.crc32);
        const QString sha256 = QString::fromLatin1(
            QCryptographicHash::hash(image->bytes, QCryptographicHash::Sha256).toHex());
        const int frames = frame_count(containerSize);
        const double seconds = least_wire_seconds(containerSize, rate);
        if (parser.isSet(json)) {
            object.insert(QStringLiteral("plainSize"), plainSize);
            object.insert(QStringLiteral("containerSize"), containerSize);
            object.insert(QStringLiteral("crc32"), crc);
            object.insert(QStringLiteral("frames"), frames);
            object.insert(QStringLiteral("sha256"), sha256);
            object.insert(QStringLiteral("baud"), rate);
            object.insert(QStringLiteral("wireSeconds"), seconds);
            write(QString::fromUtf8(json_line(object)));
            continue;
        }
        write(QStringLiteral("%1\n  plain size:      %2 bytes\n  container size:  %3 bytes\n"
                             "  CRC-32 (plain):  %4\n  frames:          %5\n  SHA-256:         %6\n"
                             "  wire time:       at least %7 s at %8 baud\n")
                  .arg(path, QString::number(plainSize), QString::number(containerSize), crc,
                       QString::number(frames), sha256, QString::number(seconds, 'f', 1),
                       QString::number(rate)));
    }
    std::fflush(stdout);
    return exitCode;
}

} // namespace qvota::cli
