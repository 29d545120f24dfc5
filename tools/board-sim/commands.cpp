#include "commands.h"

#include "cipher.h"
#include "container.h"
#include "protocolengine.h"
#include "record.h"
#include "simconfig.h"
#include "simlog.h"
#include "stopsignal.h"
#include "udpserver.h"
#include "wire.h"

#include <QFile>
#include <QtEndian>

#include <cstdio>

#ifdef Q_OS_UNIX
#    include "ptyserver.h"
#endif

namespace qvota::sim {

namespace {

void print_out(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void print_error(const QString &text)
{
    const QByteArray bytes =
        (QStringLiteral("qvota-board-sim: ") + text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

bool read_file(const QString &path, QByteArray *bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        print_error(QStringLiteral("cannot read %1").arg(path));
        return false;
    }
    *bytes = file.readAll();
    return true;
}

// Writes the record at exit and after every completed update, so that a killed simulator still
// leaves the last finished update behind.
class RecordWriter
{
public:
    RecordWriter(const ProtocolEngine &engine, const QString &path)
        : m_engine(engine)
        , m_path(path)
    {}

    void afterInput()
    {
        if (m_engine.record().updates != m_writtenUpdates)
            write();
    }
    void write()
    {
        m_writtenUpdates = m_engine.record().updates;
        if (!m_path.isEmpty() && !write_record(m_engine.record(), m_path))
            log_line(QStringLiteral("cannot write the record to %1").arg(m_path));
    }

private:
    const ProtocolEngine &m_engine;
    const QString m_path;
    int m_writtenUpdates = 0;
};

QString crc_hex(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0')).toUpper();
}

// The magic as text, with anything unprintable escaped so that a wrong file shows what it holds.
QString printable(const QByteArray &bytes)
{
    QString text;
    for (const char byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F)
            text += QLatin1Char(byte);
        else
            text += QStringLiteral("\\x%1").arg(uchar(byte), 2, 16, QLatin1Char('0'));
    }
    return text;
}

void announce(const QString &what)
{
    print_out(QStringLiteral("qvota-board-sim: serving %1\n").arg(what));
}

} // namespace

int run_pack(const QStringList &args)
{
    if (args.size() != 2) {
        print_error(QStringLiteral("pack needs PLAIN_IN and CONTAINER_OUT"));
        return 2;
    }
    QByteArray plain;
    if (!read_file(args[0], &plain))
        return 1;
    if (plain.isEmpty()) {
        print_error(QStringLiteral("%1 is empty").arg(args[0]));
        return 1;
    }
    const QByteArray container = pack_container(plain, random_nonce());
    QFile out(args[1]);
    if (!out.open(QIODevice::WriteOnly) || out.write(container) != container.size()) {
        print_error(QStringLiteral("cannot write %1").arg(args[1]));
        return 1;
    }
    print_out(QStringLiteral("packed %1 plain bytes into %2 (%3 bytes, crc32 %4)\n")
                  .arg(QString::number(plain.size()), args[1], QString::number(container.size()),
                       crc_hex(image_crc32(plain))));
    return 0;
}

int run_info(const QStringList &args)
{
    if (args.size() != 1) {
        print_error(QStringLiteral("info needs CONTAINER"));
        return 2;
    }
    QByteArray bytes;
    if (!read_file(args[0], &bytes))
        return 1;
    if (bytes.size() < ContainerHeader::SIZE) {
        print_error(QStringLiteral("%1: %2 bytes, shorter than a container header")
                        .arg(args[0], QString::number(bytes.size())));
        return 1;
    }
    const qint64 size = qFromLittleEndian<qint64>(bytes.constData() + ContainerHeader::SIZE_OFFSET);
    const quint32 crc = qFromLittleEndian<quint32>(bytes.constData() + ContainerHeader::CRC_OFFSET);
    // Compared without adding the header length, which a size field near the top of the
    // 64-bit range would overflow.
    const bool sizeMatches = size > 0 && size == bytes.size() - ContainerHeader::SIZE;
    // One arg() call, so that a '%' in the file's magic is never taken for a placeholder.
    print_out(
        QStringLiteral("magic: %1\n"
                       "nonce: %2\n"
                       "size: %3\n"
                       "crc32: %4\n"
                       "file size: %5\n"
                       "size matches: %6\n")
            .arg(printable(bytes.left(8)),
                 QString::fromLatin1(bytes.mid(ContainerHeader::OPAQUE_OFFSET, NONCE_SIZE).toHex()),
                 QString::number(size), crc_hex(crc), QString::number(bytes.size()),
                 sizeMatches ? QStringLiteral("yes") : QStringLiteral("no")));
    return parse_container(bytes, nullptr, nullptr) ? 0 : 1;
}

int run_serve(const QStringList &args)
{
    SimConfig config;
    QString error;
    if (!parse_serve_args(args, &config, &error)) {
        print_error(error);
        const QByteArray usage = usage_text().toLocal8Bit();
        std::fwrite(usage.constData(), 1, size_t(usage.size()), stderr);
        return 2;
    }
    const StopSignal stop;
    ProtocolEngine engine(config, log_line);
    RecordWriter record(engine, config.recordPath);
    const auto afterInput = [&record] { record.afterInput(); };

    if (config.transport == SimConfig::Transport::Pty) {
#ifdef Q_OS_UNIX
        PtyServer server(engine, stop, config.baud);
        if (!server.open(config.ptyLink, &error)) {
            print_error(error);
            return 1;
        }
        log_line(QStringLiteral("pty %1%2, %3")
                     .arg(server.slavePath(),
                          config.ptyLink.isEmpty()
                              ? QString()
                              : QStringLiteral(" (link %1)").arg(config.ptyLink),
                          config.baud > 0 ? QStringLiteral("paced at %1 baud 8N1").arg(config.baud)
                                          : QStringLiteral("unpaced")));
        announce(QStringLiteral("pty ") + server.slavePath());
        server.run(afterInput);
#endif
    } else {
        UdpServer server(engine, stop);
        if (!server.bind(config.udpAddress, config.udpPort, &error)) {
            print_error(error);
            return 1;
        }
        if (config.baud > 0)
            log_line(QStringLiteral("--baud applies to --pty only; ignored"));
        announce(QStringLiteral("udp ") + server.endpoint());
        server.run(afterInput);
    }
    record.write();
    log_line(QStringLiteral("stopped"));
    return 0;
}

} // namespace qvota::sim
