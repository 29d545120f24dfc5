#include "otaflow.h"

#include "container.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <array>

namespace qvota {

namespace {

constexpr int IDENTIFY_TRIES = 5;
constexpr int IDENTIFY_WINDOW_MS = 3000;
constexpr int ACK_TIMEOUT_MS = 15000;
constexpr int RXDONE_TIMEOUT_MS = 15000;
// The board reads the whole slot back from flash before it answers.
constexpr int READBACK_TIMEOUT_MS = 120000;
// Gives the board time to take the target in before the boot command follows.
constexpr int TARGET_PAUSE_MS = 200;

constexpr char ACK = 'K';
constexpr char LF = '\n';
constexpr char CR = '\r';
constexpr int CRC_DIGITS = 8;

constexpr int FRAME_HEADER = 4; // AA 55 and the 16-bit index
constexpr int FRAME_TRAILER = 2;

constexpr std::array<quint16, 256> make_crc16_table()
{
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 reg = quint16(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x8000) ? quint16((reg << 1) ^ 0x1021) : quint16(reg << 1);
        table[std::size_t(i)] = reg;
    }
    return table;
}

constexpr std::array<quint16, 256> CRC16_TABLE = make_crc16_table();

// Writes the frame for index into frame, reusing its storage: the transfer builds thousands of
// frames and must not allocate for each.
bool fill_frame(QByteArray &frame, const QByteArray &payload, int index)
{
    const qint64 start = qint64(index) * FRAME_PAYLOAD;
    if (index < 0 || index > 0xFFFF || start >= payload.size()) {
        frame.clear();
        return false;
    }
    const int n = int(std::min<qint64>(FRAME_PAYLOAD, payload.size() - start));
    frame.resize(FRAME_HEADER + n + FRAME_TRAILER);
    auto *out = reinterpret_cast<uchar *>(frame.data());
    out[0] = 0xAA;
    out[1] = 0x55;
    qToLittleEndian<quint16>(quint16(index), out + 2);
    std::copy_n(payload.constData() + start, n, frame.data() + FRAME_HEADER);
    const quint16 crc = crc16_ccitt(frame, 2, 2 + n);
    qToBigEndian<quint16>(crc, out + FRAME_HEADER + n);
    return true;
}

QString hex_field(quint32 value)
{
    return QStringLiteral("%1").arg(value, CRC_DIGITS, 16, QLatin1Char(' '));
}

// Reads the CRC that follows marker: at most 8 hex digits. Returns false when unreadable.
bool parse_crc_after(const QString &text, QLatin1String marker, quint32 &value)
{
    const int at = text.indexOf(marker);
    if (at < 0)
        return false;
    bool ok = false;
    value = text.mid(at + marker.size(), CRC_DIGITS).toUInt(&ok, 16);
    return ok;
}

// The bytes a board sent in place of acknowledgements during the transfer. A board may end
// the transfer with its RXDONE line instead of the last K; the line counts once an LF has
// followed the marker, so the CRC digits are complete when it is parsed.
class AckAccumulator
{
public:
    // Appends one byte; returns true when a complete RXDONE line has arrived.
    bool append(char byte)
    {
        m_bytes.append(byte);
        if (m_markerEnd < 0) {
            const qsizetype from = std::max<qsizetype>(0, m_bytes.size() - marker().size());
            const qsizetype at = m_bytes.indexOf(marker(), from);
            if (at >= 0)
                m_markerEnd = at + marker().size();
        } else if (byte == LF) {
            m_lineComplete = true;
        }
        return m_lineComplete;
    }

    bool isEmpty() const { return m_bytes.isEmpty(); }
    qsizetype size() const { return m_bytes.size(); }
    bool hasRxDone() const { return m_markerEnd >= 0; }

    // The text to parse: CR and LF removed, anything before "RXDONE" dropped.
    QString rxDoneText() const
    {
        QString text = QString::fromLatin1(m_bytes);
        text.remove(QLatin1Char(CR));
        text.remove(QLatin1Char(LF));
        const int at = text.indexOf(QLatin1String("RXDONE"));
        if (at > 0)
            text.remove(0, at);
        return text;
    }

private:
    static QByteArrayView marker() { return "RXDONE CRC32="; }

    QByteArray m_bytes;
    qsizetype m_markerEnd = -1;
    bool m_lineComplete = false;
};

// The callbacks with their "empty means skip" rule applied once, here.
class Reporter
{
public:
    explicit Reporter(const OtaCallbacks &callbacks)
        : m_callbacks(callbacks)
    {}

    void log(const QString &line) const
    {
        if (m_callbacks.log)
            m_callbacks.log(line);
    }

    void progress(int done, int total) const
    {
        if (m_callbacks.progress)
            m_callbacks.progress(done, total);
    }

    void stage(RunStage stage) const
    {
        if (m_callbacks.stage)
            m_callbacks.stage(stage);
    }

    bool cancelRequested() const { return m_callbacks.cancel && m_callbacks.cancel->load(); }

private:
    const OtaCallbacks &m_callbacks;
};

int time_left(const QElapsedTimer &timer, int windowMs)
{
    return int(std::max<qint64>(0, windowMs - timer.elapsed()));
}

QString seconds_text(double seconds)
{
    return QString::number(seconds, 'f', 1);
}

const QString JEDEC_FAILED =
    QStringLiteral("JEDEC check failed (board not in OTA image or flash unreadable)");

using Step = Expected<void>;

// Why a wait that ended without the board's answer (or a write that failed) ends the flow
// instead of counting as the board's silence: the user's cancel, or a link that has failed.
std::optional<Failure> interruption(const Link &link, const Reporter &reporter)
{
    if (reporter.cancelRequested())
        return Failure::cancelled();
    if (QString lost = link.failure(); !lost.isEmpty())
        return Failure{FailureKind::LinkLost, std::move(lost)};
    return std::nullopt;
}

// Sends bytes; a write that fails ends the step at once, with the cancel or the link's failure.
std::optional<Failure> send(Link &link, const QByteArray &bytes, const Reporter &reporter)
{
    if (link.write(bytes))
        return std::nullopt;
    if (std::optional<Failure> why = interruption(link, reporter))
        return why;
    // A link that breaks its contract still does not leave the flow waiting for nothing.
    return Failure{FailureKind::LinkLost, QStringLiteral("the link did not take a write")};
}

Step identify(Link &link, const Reporter &reporter)
{
    // A cancel here keeps identification's words: the board has not been asked to change.
    const auto cancelled = [] { return Failure{FailureKind::Cancelled, JEDEC_FAILED}; };
    const auto stop = [&](Failure why) {
        return why.kind == FailureKind::Cancelled ? cancelled() : why;
    };
    for (int attempt = 1; attempt <= IDENTIFY_TRIES; ++attempt) {
        if (reporter.cancelRequested())
            return cancelled();
        if (std::optional<Failure> why = send(link, QByteArrayLiteral("j"), reporter))
            return stop(*why);
        QElapsedTimer window;
        window.start();
        for (;;) {
            const int left = time_left(window, IDENTIFY_WINDOW_MS);
            QString line;
            if (left <= 0)
                break;
            if (!link.readLine(left, line)) {
                if (std::optional<Failure> why = interruption(link, reporter))
                    return stop(*why);
                break;
            }
            reporter.log(QStringLiteral("RX> %1").arg(line));
            if (has_jedec_reply(line)) {
                if (line.contains(JEDEC_ID))
                    return {};
                break;
            }
        }
        reporter.log(QStringLiteral("jedec timeout try %1/%2").arg(attempt).arg(IDENTIFY_TRIES));
    }
    return Failure::refused(JEDEC_FAILED);
}

Step erase(Link &link, qint64 size, int timeoutMs, const Reporter &reporter)
{
    QByteArray command(5, Qt::Uninitialized);
    command[0] = 'U';
    qToLittleEndian<quint32>(quint32(size), command.data() + 1);
    if (std::optional<Failure> why = send(link, command, reporter))
        return *why;
    reporter.log(QStringLiteral("TX> U len=%1 (erasing APP2 slot...)").arg(size));

    QElapsedTimer timer;
    timer.start();
    QString line;
    const bool got = link.readLine(timeoutMs, line);
    if (!got) {
        if (std::optional<Failure> why = interruption(link, reporter))
            return *why;
    }
    if (!got || line != QLatin1String("READY"))
        return Failure::refused(
            QStringLiteral("expected READY after erase, got '%1'").arg(got ? line : QString()));
    reporter.log(
        QStringLiteral("RX> READY (erase %1s)").arg(seconds_text(timer.elapsed() / 1000.0)));
    return {};
}

// Sends one frame up to retries times; acked tells whether the board acknowledged it. Fails
// only when the flow must stop at once (a cancel, a lost link).
Step send_frame(Link &link, const QByteArray &frame, int index, int retries,
                AckAccumulator &accumulator, const Reporter &reporter, bool &acked)
{
    acked = false;
    for (int attempt = 1; attempt <= retries; ++attempt) {
        if (std::optional<Failure> why = send(link, frame, reporter))
            return *why;
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            const int left = time_left(timer, ACK_TIMEOUT_MS);
            const int byte = left > 0 ? link.readByte(left) : -1;
            if (byte < 0)
                break;
            if (byte == ACK || accumulator.append(char(byte))) {
                acked = true;
                return {};
            }
        }
        if (std::optional<Failure> why = interruption(link, reporter))
            return *why;
        reporter.log(QStringLiteral("frame %1 try %2: ack timeout").arg(index).arg(attempt));
    }
    return {};
}

Step transfer(Link &link, const QByteArray &payload, int retries, AckAccumulator &accumulator,
              const Reporter &reporter, qint64 &bytesAcked, double &seconds)
{
    const qint64 size = payload.size();
    const int frames = frame_count(size);
    QByteArray frame;
    frame.reserve(FRAME_HEADER + FRAME_PAYLOAD + FRAME_TRAILER);

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < frames; ++i) {
        if (reporter.cancelRequested())
            return Failure::cancelled();
        fill_frame(frame, payload, i);
        bool acked = false;
        if (Step sent = send_frame(link, frame, i, retries, accumulator, reporter, acked); !sent)
            return sent;
        if (!accumulator.isEmpty() && !accumulator.hasRxDone()) {
            reporter.log(QStringLiteral("note: skipped %1 non-ack byte(s) at frame %2")
                             .arg(accumulator.size())
                             .arg(i));
        }
        if (!acked)
            return Failure::refused(
                QStringLiteral("frame %1 failed after %2 tries").arg(i).arg(retries));
        bytesAcked = frame_bytes(i + 1, size);
        if (i % 16 == 0 || i == frames - 1)
            reporter.progress(i + 1, frames);
        if (i % 256 == 0) {
            reporter.log(QStringLiteral("progress %1/%2 (%3%)")
                             .arg(i + 1)
                             .arg(frames)
                             .arg((i + 1) * 100 / frames));
        }
    }
    seconds = double(timer.nsecsElapsed()) / 1e9;
    reporter.log(QStringLiteral("transfer done in %1s (%2 B/s)")
                     .arg(seconds_text(seconds),
                          QString::number(qint64(bytes_per_second(size, seconds)))));
    return {};
}

// How the board reports one of its two CRCs, and what the log and the errors say of it.
struct CrcReport
{
    const char *name;        // in "no NAME, got '...'"
    const char *lineMarker;  // a line without it is not the report
    const char *valueMarker; // the hex digits follow it
    const char *mismatch;    // "%1" the board's value, "%2" the expected one
    const char *match;
    int timeoutMs;
};

const CrcReport RECEIVE_REPORT{
    "RXDONE",         "RXDONE CRC32=",  "CRC32=", "RX CRC32 mismatch rx=%1 file=%2",
    "RX CRC32 match", RXDONE_TIMEOUT_MS};
const CrcReport READBACK_REPORT{"IMGCRC",
                                "IMGCRC=",
                                "IMGCRC=",
                                "IMG CRC32 mismatch img=%1 file=%2",
                                "IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED",
                                READBACK_TIMEOUT_MS};

// Compares the CRC the board reports with the expected one. arrived is the report's line when it
// came already (the receive report can stand in for the last ack); otherwise the next line is
// read. reported gets the board's value when it was readable.
Step check_crc(Link &link, const CrcReport &report, const QString *arrived, quint32 expected,
               const Reporter &reporter, std::optional<quint32> &reported)
{
    QString text;
    if (arrived) {
        text = *arrived;
    } else {
        const bool got = link.readLine(report.timeoutMs, text);
        if (!got) {
            if (std::optional<Failure> why = interruption(link, reporter))
                return *why;
        }
        if (!got || !text.contains(QLatin1String(report.lineMarker)))
            return Failure::refused(QStringLiteral("no %1, got '%2'")
                                        .arg(QLatin1String(report.name), got ? text : QString()));
    }
    reporter.log(QStringLiteral("RX> %1").arg(text));
    quint32 value = 0;
    const bool readable = parse_crc_after(text, QLatin1String(report.valueMarker), value);
    if (readable)
        reported = value;
    if (!readable || value != expected)
        return Failure::refused(
            QString::fromLatin1(report.mismatch).arg(hex_field(value), hex_field(expected)));
    reporter.log(QString::fromLatin1(report.match));
    return {};
}

// Listens for the whole window and returns the last answer line (empty when none came). A
// cancel or a lost link ends the window early.
QString listen_for_banner(Link &link, int windowMs, const Reporter &reporter)
{
    QElapsedTimer timer;
    timer.start();
    QString answer;
    QString line;
    for (;;) {
        const int left = time_left(timer, windowMs);
        const int byte = left > 0 ? link.readByte(left) : -1;
        if (byte < 0)
            break;
        if (byte == LF) {
            reporter.log(QStringLiteral("RX> %1").arg(line));
            if (line.contains(QLatin1String("QUELVANE APP"))
                || line.contains(QLatin1String("WB->")))
                answer = line;
            line.clear();
        } else if (byte != CR) {
            line.append(QChar::fromLatin1(char(byte)));
        }
    }
    if (const QString lost = link.failure(); !lost.isEmpty())
        reporter.log(lost);
    return answer;
}

// What the link set aside during the run (datagrams from other senders), when anything.
void log_input_note(const Link &link, const Reporter &reporter)
{
    if (const QString note = link.inputNote(); !note.isEmpty())
        reporter.log(note);
}

// The image is verified when this runs, so neither a cancel nor a link that fails here fails the
// update: a cancel only spares the board a boot the user no longer wants, and a lost link is
// said in the log.
QString warm_boot(Link &link, const OtaConfig &config, const Reporter &reporter)
{
    if (!config.skipReopen) {
        reporter.log(QStringLiteral("reopen transport before warm boot (XREQ-19 mitigation)"));
        link.reopen();
    }
    const auto skipped = [&reporter] {
        reporter.log(QStringLiteral("warm boot skipped: cancelled by user"));
        return QString();
    };
    if (reporter.cancelRequested())
        return skipped();
    if (!config.target.isEmpty()) {
        reporter.log(QStringLiteral("TX> %1 (select warm boot target)").arg(config.target));
        link.write(config.target.toLatin1());
        if (!link.pause(TARGET_PAUSE_MS) || reporter.cancelRequested())
            return skipped();
    }
    reporter.log(QStringLiteral("TX> b (warm boot)"));
    // A write that fails leaves the listen below to end at once and to say why.
    link.write(QByteArrayLiteral("b"));

    const QString answer = listen_for_banner(link, config.bannerWindowMs, reporter);
    // A board that boots without saying so is not a failed update: the image is verified.
    reporter.log(
        QStringLiteral("WARM BOOT OK: %1")
            .arg(answer.isEmpty() ? QStringLiteral("WARN: no warm-boot ack seen") : answer));
    return answer;
}

} // namespace

bool has_jedec_reply(const QString &text)
{
    return text.contains(QLatin1String("JEDEC="));
}

qint64 frame_bytes(int frames, qint64 size)
{
    return std::clamp<qint64>(qint64(frames) * FRAME_PAYLOAD, 0, size);
}

double bytes_per_second(qint64 bytes, double seconds)
{
    // An instant transfer (a fake link, a tiny image) would divide by zero; below a millisecond
    // the rate means nothing, so the time is taken as at least that.
    return bytes > 0 ? double(bytes) / std::max(seconds, 0.001) : 0.0;
}


QString image_size_problem(qint64 size)
{
    if (size > 0 && size <= MAX_IMAGE_SIZE)
        return {};
    return QStringLiteral("file size %1 out of range (1..%2)")
        .arg(QString::number(size), QString::number(MAX_IMAGE_SIZE));
}

int frame_count(qint64 size)
{
    return int((size + FRAME_PAYLOAD - 1) / FRAME_PAYLOAD);
}

qint64 transfer_wire_bytes(qint64 size)
{
    return size + qint64(frame_count(size)) * (FRAME_HEADER + FRAME_TRAILER + 1);
}

quint16 crc16_ccitt(const QByteArray &data, int offset, int count, quint16 init)
{
    // Out-of-range arguments are narrowed to the bytes that exist rather than read past them.
    const qsizetype begin = std::clamp<qsizetype>(offset, 0, data.size());
    const qsizetype end = std::clamp<qsizetype>(qsizetype(offset) + count, begin, data.size());
    quint16 reg = init;
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    for (qsizetype i = begin; i < end; ++i)
        reg = quint16((reg << 8) ^ CRC16_TABLE[((reg >> 8) ^ bytes[i]) & 0xFF]);
    return reg;
}

QByteArray build_frame(const QByteArray &payload, int index)
{
    QByteArray frame;
    fill_frame(frame, payload, index);
    return frame;
}

namespace {

// Runs the phases in order; result.stage follows them, so a failure is named by the phase that
// was running.
void run_steps(Link &link, const QByteArray &payload, const OtaConfig &config,
               const Reporter &reporter, FlowResult &result)
{
    const auto enter = [&result, &reporter](RunStage stage) {
        result.stage = stage;
        reporter.stage(stage);
    };
    const auto failed = [&result](Step step) {
        if (!step)
            result.failure = step.failure();
        return !step;
    };
    enter(RunStage::Identify);
    const qint64 size = payload.size();
    if (QString problem = image_size_problem(size); !problem.isEmpty()) {
        result.failure = Failure::refused(problem);
        return;
    }

    const int frames = frame_count(size);
    const qint64 last = size % FRAME_PAYLOAD == 0 ? FRAME_PAYLOAD : size % FRAME_PAYLOAD;
    const quint32 expectedCrc = config.onChipDecrypt ? config.expectedCrc32 : crc32(payload);
    result.expectedCrc32 = expectedCrc;
    reporter.log(QStringLiteral("len=%1 frames=%2 last=%3 crc32=%4%5")
                     .arg(QString::number(size), QString::number(frames), QString::number(last),
                          crc32_text(expectedCrc).toLower(),
                          config.onChipDecrypt ? QStringLiteral(" (plaintext, on-chip decrypt)")
                                               : QString()));
    link.clearInput();

    if (failed(identify(link, reporter)))
        return;

    enter(RunStage::Erase);
    if (failed(erase(link, size, config.eraseTimeoutMs, reporter)))
        return;

    AckAccumulator accumulator;
    enter(RunStage::Transfer);
    if (failed(transfer(link, payload, config.retries, accumulator, reporter, result.bytesAcked,
                        result.transferSeconds)))
        return;

    enter(RunStage::RxCrc);
    const QString rxDone = accumulator.rxDoneText();
    if (failed(check_crc(link, RECEIVE_REPORT, accumulator.hasRxDone() ? &rxDone : nullptr,
                         expectedCrc, reporter, result.rxCrc32)))
        return;

    enter(RunStage::ImgCrc);
    if (std::optional<Failure> why = send(link, QByteArrayLiteral("F"), reporter)) {
        result.failure = *why;
        return;
    }
    if (failed(check_crc(link, READBACK_REPORT, nullptr, expectedCrc, reporter, result.imgCrc32)))
        return;

    if (config.warmBoot) {
        enter(RunStage::WarmBoot);
        result.warmBootAnswer = warm_boot(link, config, reporter);
    }
    result.stage = RunStage::Done;
    // The transcript of a verified update ends with its verdict.
    log_input_note(link, reporter);
    reporter.log(QStringLiteral("OTA FLOW COMPLETE"));
}

} // namespace

FlowResult run_update_flow_result(Link &link, const QByteArray &payload, const OtaConfig &config,
                                  const OtaCallbacks &callbacks)
{
    const Reporter reporter(callbacks);
    // The link's own waits (reads, pauses, a stalled write) end on the same request.
    if (callbacks.cancel)
        link.setCancelFlag(callbacks.cancel);
    FlowResult result;
    run_steps(link, payload, config, reporter, result);
    // What the link set aside may explain a failure.
    if (result.failure)
        log_input_note(link, reporter);
    return result;
}

QString run_update_flow(Link &link, const QByteArray &payload, const OtaConfig &config,
                        const OtaCallbacks &callbacks)
{
    return run_update_flow_result(link, payload, config, callbacks).error();
}

} // namespace qvota
