// Fuzz target for run_update_flow against a board whose every reply byte and every silence comes
// from the input. The flow must not crash, must keep within the time its own windows, tries and
// pauses allow, must report only the failures it documents and each only when the board's
// transcript bears it out, and must report success only when the board identified itself,
// erased, acknowledged every frame and sent both CRC lines with the expected value.
//
// Input layout (a shorter input is padded with zero bytes up to the timeline):
//   0      flags: 1 warm boot, 2 skip reopen, 4 UDP-style link (else serial-style),
//          8 plain payload (the expected CRC is then the payload's own, not bytes 2..5),
//          16 warm-boot target, 32 raise the cancel flag after byte 9 writes
//   1      bits 0-1 retries, 2-3 erase time-out, 4-5 banner window, 6-7 target text (tables below)
//   2..5   expected CRC-32, little-endian
//   6..7   payload size, little-endian, taken modulo 600 plus 1: one to three frames
//   8      seed of the payload's byte pattern
//   9      cancel point, in writes
//   10..   the board's timeline: every byte arrives at the current time; FF n with n > 0 moves
//          the time on by n * 250 ms, FF 00 is a literal FF. Bytes arriving at time 0 are
//          swallowed by the flow's initial clearInput.
#include "container.h"
#include "otaflow.h"
#include "protocolwaits.h"
#include "timelinelink.h"
#include "virtualclock.h"
#include "wire.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

using qvota::fuzz::TimelineLink;
using qvota::fuzz::VirtualClock;
using qvota::fuzz::VirtualTimeScope;

namespace {

constexpr int HEADER_SIZE = 10;
constexpr int MAX_PAYLOAD = 600;
constexpr qint64 PAUSE_UNIT_MS = 250;

constexpr std::array<int, 4> RETRIES = {3, 1, 2, 0};
constexpr std::array<int, 4> ERASE_TIMEOUTS_MS = {180000, 3000, 250, 0};
constexpr std::array<int, 4> BANNER_WINDOWS_MS = {8000, 1000, 0, 250};
const std::array<const char *, 4> TARGETS = {"1", "2", "10", "A"};

// The flow's limits come from protocolwaits.h, stated apart from the engine, so that a change
// of them in the flow is a finding.
using namespace qvota::test;

// Generous: one run of at most three frames takes well under a millisecond of real time when the
// flow does not sleep for real.
constexpr qint64 WALL_LIMIT_MS = 5000;

const QByteArray RXDONE_MARKER = "RXDONE CRC32=";

enum Flags : uint8_t {
    WarmBoot = 1,
    SkipReopen = 2,
    UdpFlavour = 4,
    PlainPayload = 8,
    WithTarget = 16,
    CancelArmed = 32,
};

struct Scenario
{
    qvota::OtaConfig config;
    QByteArray payload;
    TimelineLink::Flavour flavour = TimelineLink::Flavour::Serial;
    int cancelAfterWrites = -1;
    quint32 expectedCrc = 0;
    QList<TimelineLink::Arrival> timeline;
};

QByteArray reference_frame(const QByteArray &payload, int index)
{
    QByteArray body;
    body.append(char(index & 0xFF));
    body.append(char((index >> 8) & 0xFF));
    body.append(payload.mid(qsizetype(index) * qvota::FRAME_PAYLOAD, qvota::FRAME_PAYLOAD));
    // The board simulator's CRCs: written apart from the engine's, so they check them.
    const quint16 crc = qvota::sim::frame_crc16(body.constData(), body.size());
    return QByteArray("\xAA\x55", 2) + body + char(crc >> 8) + char(crc & 0xFF);
}

// How QString::toUInt reads base 16 (checked against it over millions of strings): text up to a
// NUL, ASCII white space around it, an optional plus sign, an optional 0x, then hex digits only.
std::optional<quint32> read_hex(QByteArray text)
{
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
        text.truncate(nul);
    const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && space(text[begin]))
        ++begin;
    while (end > begin && space(text[end - 1]))
        --end;
    if (begin < end && text[begin] == '+')
        ++begin;
    if (end - begin >= 2 && text[begin] == '0'
        && (text[begin + 1] == 'x' || text[begin + 1] == 'X'))
        begin += 2;
    if (begin == end)
        return std::nullopt;
    quint64 value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + quint64(digit);
    }
    if (value > 0xFFFFFFFFu)
        return std::nullopt;
    return quint32(value);
}

// The value the board stated after the first marker of text, read as the flow is documented to
// read it: at most eight characters.
std::optional<quint32> stated_crc(const QByteArray &text, const QByteArray &marker)
{
    const qsizetype at = text.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    return read_hex(text.mid(at + marker.size(), 8));
}

QString hex_field(quint32 value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%8x", value);
    return QString::fromLatin1(buffer);
}

Scenario decode(const uint8_t *data, size_t size)
{
    std::array<uint8_t, HEADER_SIZE> header{};
    std::copy_n(data, std::min<size_t>(size, HEADER_SIZE), header.begin());
    const uint8_t flags = header[0];
    const uint8_t choices = header[1];

    Scenario s;
    s.config.warmBoot = flags & WarmBoot;
    s.config.skipReopen = flags & SkipReopen;
    s.config.onChipDecrypt = !(flags & PlainPayload);
    s.config.retries = RETRIES[choices & 3];
    s.config.eraseTimeoutMs = ERASE_TIMEOUTS_MS[(choices >> 2) & 3];
    s.config.bannerWindowMs = BANNER_WINDOWS_MS[(choices >> 4) & 3];
    if (flags & WithTarget)
        s.config.target = QString::fromLatin1(TARGETS[(choices >> 6) & 3]);
    s.config.expectedCrc32 = quint32(header[2]) | quint32(header[3]) << 8 | quint32(header[4]) << 16
                             | quint32(header[5]) << 24;
    s.flavour = (flags & UdpFlavour) ? TimelineLink::Flavour::Udp : TimelineLink::Flavour::Serial;
    if (flags & CancelArmed)
        s.cancelAfterWrites = header[9];

    const int payloadSize = (header[6] | header[7] << 8) % MAX_PAYLOAD + 1;
    quint32 state = header[8];
    s.payload.resize(payloadSize);
    for (char &byte : s.payload) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 16);
    }
    s.expectedCrc =
        s.config.onChipDecrypt ? s.config.expectedCrc32 : qvota::sim::image_crc32(s.payload);

    qint64 at = 0;
    for (size_t i = HEADER_SIZE; i < size; ++i) {
        if (data[i] != 0xFF) {
            s.timeline.append({at, char(data[i])});
        } else if (i + 1 < size) {
            ++i;
            if (data[i] == 0)
                s.timeline.append({at, char(0xFF)});
            else
                at += data[i] * PAUSE_UNIT_MS;
        }
    }
    return s;
}

enum class Sent { Identify, Erase, Frame, Readback, Target, Boot, Unknown };

struct Run
{
    const Scenario &scenario;
    const TimelineLink &link;
    QString result;
    QStringList log;
    QList<QPair<int, int>> progress;
    bool logLineBroken = false;
    qint64 endMs = 0;
    qint64 wallMs = 0;
    QList<Sent> kinds;
    QList<int> frameIndex; // per write; -1 unless a frame
};

const char *sent_name(Sent kind)
{
    switch (kind) {
    case Sent::Identify:
        return "identify";
    case Sent::Erase:
        return "erase";
    case Sent::Frame:
        return "frame";
    case Sent::Readback:
        return "readback";
    case Sent::Target:
        return "target";
    case Sent::Boot:
        return "boot";
    case Sent::Unknown:
        break;
    }
    return "unknown";
}

void dump(const Run &run)
{
    const Scenario &s = run.scenario;
    std::fprintf(stderr,
                 "scenario: payload %d bytes, expected crc %08x (%s), retries %d, erase %d ms, "
                 "banner %d ms, warm %d, skipReopen %d, target '%s', %s link, cancel after %d\n",
                 int(s.payload.size()), s.expectedCrc,
                 s.config.onChipDecrypt ? "from header" : "of payload", s.config.retries,
                 s.config.eraseTimeoutMs, s.config.bannerWindowMs, int(s.config.warmBoot),
                 int(s.config.skipReopen), qPrintable(s.config.target),
                 s.flavour == TimelineLink::Flavour::Udp ? "udp" : "serial", s.cancelAfterWrites);
    const auto &writes = run.link.writes();
    for (qsizetype i = 0; i < writes.size(); ++i) {
        std::fprintf(stderr, "write %d at %lld ms: %s %s\n", int(i), writes[i].atMs,
                     sent_name(run.kinds.value(i, Sent::Unknown)),
                     writes[i].bytes.left(16).toHex(' ').constData());
    }
    for (const auto &read : run.link.reads()) {
        std::fprintf(stderr, "read %s(%d) at %lld ms after %d writes: %s\n",
                     read.kind == TimelineLink::ReadKind::Byte ? "byte" : "line", read.timeoutMs,
                     read.startMs, read.writesBefore,
                     read.delivered ? read.bytes.toPercentEncoding(" =>").constData()
                                    : "(time-out)");
    }
    for (const QString &line : run.log)
        std::fprintf(stderr, "log: %s\n", qPrintable(line));
    std::fprintf(stderr, "result: '%s' after %lld virtual ms, %lld real ms\n",
                 qPrintable(run.result), run.endMs, run.wallMs);
}

#define REQUIRE(run, condition)                                                                    \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            dump(run);                                                                             \
            std::fprintf(stderr, "violated: %s (%s:%d)\n", #condition, __FILE__, __LINE__);        \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

void classify_writes(Run &run)
{
    const Scenario &s = run.scenario;
    const int frames = qvota::frame_count(s.payload.size());
    QByteArray erase(1, 'U');
    for (int shift = 0; shift < 32; shift += 8)
        erase.append(char((s.payload.size() >> shift) & 0xFF));

    for (const auto &write : run.link.writes()) {
        const QByteArray &bytes = write.bytes;
        Sent kind = Sent::Unknown;
        int index = -1;
        if (bytes == "j") {
            kind = Sent::Identify;
        } else if (bytes == erase) {
            kind = Sent::Erase;
        } else if (bytes.size() > 6 && bytes.startsWith("\xAA\x55")) {
            const int candidate = uchar(bytes[2]) | uchar(bytes[3]) << 8;
            if (candidate < frames && bytes == reference_frame(s.payload, candidate)) {
                kind = Sent::Frame;
                index = candidate;
            }
        } else if (bytes == "F") {
            kind = Sent::Readback;
        } else if (!s.config.target.isEmpty() && bytes == s.config.target.toLatin1()) {
            kind = Sent::Target;
        } else if (bytes == "b") {
            kind = Sent::Boot;
        }
        run.kinds.append(kind);
        run.frameIndex.append(index);
    }
}

// Every write is a documented command in the documented order, frames in sequence with no more
// tries than configured, and no identify or new frame after the cancel flag went up.
void check_order(const Run &run)
{
    const Scenario &s = run.scenario;
    int identifies = 0;
    int previousFrame = -1;
    int triesOfFrame = 0;
    Sent previous = Sent::Unknown;
    for (qsizetype i = 0; i < run.kinds.size(); ++i) {
        const Sent kind = run.kinds[i];
        const bool afterCancel = s.cancelAfterWrites >= 0 && i >= s.cancelAfterWrites;
        REQUIRE(run, kind != Sent::Unknown);
        switch (kind) {
        case Sent::Identify:
            REQUIRE(run, i == identifies);
            REQUIRE(run, !afterCancel);
            ++identifies;
            REQUIRE(run, identifies <= IDENTIFY_TRIES);
            break;
        case Sent::Erase:
            REQUIRE(run, previous == Sent::Identify);
            break;
        case Sent::Frame: {
            const int index = run.frameIndex[i];
            if (index == previousFrame) {
                REQUIRE(run, previous == Sent::Frame);
                ++triesOfFrame;
            } else {
                REQUIRE(run, index == previousFrame + 1);
                REQUIRE(run, index == 0 ? previous == Sent::Erase : previous == Sent::Frame);
                REQUIRE(run, !afterCancel);
                triesOfFrame = 1;
            }
            REQUIRE(run, triesOfFrame <= s.config.retries);
            previousFrame = index;
            break;
        }
        case Sent::Readback:
            REQUIRE(run, previous == Sent::Frame);
            REQUIRE(run, previousFrame == qvota::frame_count(s.payload.size()) - 1);
            break;
        case Sent::Target:
            REQUIRE(run, previous == Sent::Readback);
            break;
        case Sent::Boot:
            REQUIRE(run, previous == Sent::Readback || previous == Sent::Target);
            REQUIRE(run, s.config.target.isEmpty() == (previous == Sent::Readback));
            break;
        case Sent::Unknown:
            break;
        }
        previous = kind;
    }
}

// The virtual time between two writes (or from the last write to the return) stays within the
// window that the first of them opens, and no read asks to wait past it.
void check_time(const Run &run)
{
    const Scenario &s = run.scenario;
    const auto &writes = run.link.writes();
    const bool serial = s.flavour == TimelineLink::Flavour::Serial;
    QList<qint64> limits;
    for (qsizetype i = 0; i < writes.size(); ++i) {
        const bool lastWrite = i + 1 == writes.size();
        qint64 limit = 0;
        switch (run.kinds[i]) {
        case Sent::Identify:
            limit = IDENTIFY_WINDOW_MS;
            break;
        case Sent::Erase:
            limit = std::max(0, s.config.eraseTimeoutMs);
            break;
        case Sent::Frame:
            // After the last frame's acknowledgement comes the wait for the RXDONE line.
            limit =
                ACK_WAIT_MS + (!lastWrite && run.kinds[i + 1] == Sent::Frame ? 0 : RXDONE_WAIT_MS);
            break;
        case Sent::Readback:
            limit = READBACK_WAIT_MS;
            break;
        case Sent::Target:
            limit = TARGET_PAUSE_MS;
            break;
        case Sent::Boot:
            limit = std::max(0, s.config.bannerWindowMs);
            break;
        case Sent::Unknown:
            break;
        }
        if (serial)
            limit += TimelineLink::SERIAL_REOPEN_MS * run.link.reopens().count(int(i) + 1);
        limits.append(limit);
    }

    // Segment k runs from write k - 1 to write k; segment 0, before the first write, gets nothing.
    const auto segmentStart = [&](int k) { return k == 0 ? qint64(0) : writes[k - 1].atMs; };
    const auto segmentLimit = [&](int k) { return k == 0 ? qint64(0) : limits[k - 1]; };
    for (int k = 0; k <= writes.size(); ++k) {
        const qint64 end = k < writes.size() ? writes[k].atMs : run.endMs;
        REQUIRE(run, end - segmentStart(k) <= segmentLimit(k));
    }
    for (const auto &read : run.link.reads()) {
        const int k = read.writesBefore;
        REQUIRE(run,
                read.startMs - segmentStart(k) + std::max(read.timeoutMs, 0) <= segmentLimit(k));
    }

    const qint64 frames = qvota::frame_count(s.payload.size());
    qint64 bound = IDENTIFY_TRIES * IDENTIFY_WINDOW_MS + std::max(0, s.config.eraseTimeoutMs)
                   + frames * std::max(0, s.config.retries) * ACK_WAIT_MS + RXDONE_WAIT_MS
                   + READBACK_WAIT_MS;
    if (s.config.warmBoot) {
        bound += (s.config.skipReopen || !serial ? 0 : TimelineLink::SERIAL_REOPEN_MS)
                 + (s.config.target.isEmpty() ? 0 : TARGET_PAUSE_MS)
                 + std::max(0, s.config.bannerWindowMs);
    }
    REQUIRE(run, run.endMs <= bound);
    REQUIRE(run, run.wallMs <= WALL_LIMIT_MS);
}

void check_progress(const Run &run)
{
    const int frames = qvota::frame_count(run.scenario.payload.size());
    int previous = 0;
    for (const auto &[done, total] : run.progress) {
        REQUIRE(run, total == frames);
        REQUIRE(run, done > previous && done <= frames);
        REQUIRE(run, done % 16 == 1 || done == frames);
        previous = done;
    }
    if (run.result.isEmpty())
        REQUIRE(run, previous == frames);
}

qsizetype index_of(const Run &run, Sent kind)
{
    return run.kinds.indexOf(kind);
}

// The first line read made after writes writes; null when there was none.
const TimelineLink::Read *first_line_read(const Run &run, qsizetype writes)
{
    for (const auto &read : run.link.reads()) {
        if (read.kind == TimelineLink::ReadKind::Line && read.writesBefore == writes)
            return &read;
    }
    return nullptr;
}

QString got(const TimelineLink::Read *read)
{
    return read && read->delivered ? QString::fromLatin1(read->bytes) : QString();
}

bool identifies_board(const QByteArray &line)
{
    return line.contains("JEDEC=") && line.contains("C86018");
}

struct Stated
{
    bool present = false; // the board sent RXDONE text that the flow must judge
    std::optional<quint32> value;
};

// What the board stated at the end of the transfer: either in the bytes it sent in place of
// acknowledgements, read as a whole without line ends from the first RXDONE on, or in the one line
// read after the last frame.
Stated stated_rx_crc(const Run &run)
{
    const qsizetype erase = index_of(run, Sent::Erase);
    qsizetype readback = index_of(run, Sent::Readback);
    if (readback < 0)
        readback = run.kinds.size();
    QByteArray stray;
    for (const auto &read : run.link.reads()) {
        if (read.kind == TimelineLink::ReadKind::Byte && read.delivered && read.writesBefore > erase
            && read.writesBefore <= readback && read.bytes != "K")
            stray.append(read.bytes);
    }
    Stated stated;
    if (stray.contains(RXDONE_MARKER)) {
        stray.replace('\r', QByteArray()).replace('\n', QByteArray());
        stray.remove(0, stray.indexOf("RXDONE"));
        stated.present = true;
        stated.value = stated_crc(stray, "CRC32=");
        return stated;
    }
    qsizetype lastFrame = -1;
    for (qsizetype i = 0; i < run.kinds.size(); ++i) {
        if (run.kinds[i] == Sent::Frame)
            lastFrame = i;
    }
    const TimelineLink::Read *line = first_line_read(run, lastFrame + 1);
    if (line && line->delivered && line->bytes.contains(RXDONE_MARKER)) {
        stated.present = true;
        stated.value = stated_crc(line->bytes, "CRC32=");
    }
    return stated;
}

void check_identify_failure(const Run &run)
{
    REQUIRE(run, index_of(run, Sent::Erase) < 0);
    const bool cancelled =
        run.scenario.cancelAfterWrites >= 0 && run.kinds.size() >= run.scenario.cancelAfterWrites;
    REQUIRE(run, run.kinds.count(Sent::Identify) == IDENTIFY_TRIES || cancelled);
    for (const auto &read : run.link.reads())
        REQUIRE(run, !(read.delivered && identifies_board(read.bytes)));
}

void check_success(const Run &run)
{
    const Scenario &s = run.scenario;
    const qsizetype erase = index_of(run, Sent::Erase);
    const qsizetype readback = index_of(run, Sent::Readback);
    REQUIRE(run, erase > 0 && readback > erase);

    // Identification ended at the first line that named the flash.
    const TimelineLink::Read *lastIdentifyLine = nullptr;
    for (const auto &read : run.link.reads()) {
        if (read.writesBefore > erase)
            break;
        REQUIRE(run, !lastIdentifyLine || !identifies_board(lastIdentifyLine->bytes));
        if (read.kind == TimelineLink::ReadKind::Line && read.delivered)
            lastIdentifyLine = &read;
    }
    REQUIRE(run, lastIdentifyLine && identifies_board(lastIdentifyLine->bytes));
    REQUIRE(run, got(first_line_read(run, erase + 1)) == QLatin1String("READY"));

    // Every frame sent, and something came back after the last try of each.
    const auto &reads = run.link.reads();
    for (qsizetype i = erase + 1; i < readback; ++i) {
        REQUIRE(run, run.kinds[i] == Sent::Frame);
        const bool retried = i + 1 < readback && run.frameIndex[i + 1] == run.frameIndex[i];
        if (retried)
            continue;
        REQUIRE(run, std::any_of(reads.begin(), reads.end(), [&](const TimelineLink::Read &read) {
                    return read.kind == TimelineLink::ReadKind::Byte && read.delivered
                           && read.writesBefore == i + 1;
                }));
    }
    REQUIRE(run, run.frameIndex[readback - 1] == qvota::frame_count(s.payload.size()) - 1);

    const Stated rx = stated_rx_crc(run);
    REQUIRE(run, rx.present && rx.value == s.expectedCrc);
    const TimelineLink::Read *image = first_line_read(run, readback + 1);
    REQUIRE(run, image && image->delivered);
    REQUIRE(run, stated_crc(image->bytes, "IMGCRC=") == s.expectedCrc);

    // The warm boot, and only when asked for.
    QList<Sent> tail(run.kinds.begin() + readback + 1, run.kinds.end());
    QList<Sent> wanted;
    if (s.config.warmBoot) {
        if (!s.config.target.isEmpty())
            wanted.append(Sent::Target);
        wanted.append(Sent::Boot);
    }
    REQUIRE(run, tail == wanted);
    const QList<int> reopens =
        s.config.warmBoot && !s.config.skipReopen ? QList<int>{int(readback) + 1} : QList<int>{};
    REQUIRE(run, run.link.reopens() == reopens);
}

void check_result(const Run &run)
{
    const Scenario &s = run.scenario;
    const QString &r = run.result;
    const qsizetype erase = index_of(run, Sent::Erase);
    const qsizetype readback = index_of(run, Sent::Readback);
    const bool cancelRaised = s.cancelAfterWrites >= 0 && run.kinds.size() >= s.cancelAfterWrites;

    if (r.isEmpty()) {
        check_success(run);
        return;
    }
    // A failed run never goes on to the warm boot.
    REQUIRE(run, index_of(run, Sent::Target) < 0 && index_of(run, Sent::Boot) < 0);
    REQUIRE(run, run.link.reopens().isEmpty());

    if (r == QLatin1String("JEDEC check failed (board not in OTA image or flash unreadable)")) {
        check_identify_failure(run);
    } else if (r.startsWith(QLatin1String("expected READY after erase, got '"))) {
        REQUIRE(run, erase >= 0 && erase + 1 == run.kinds.size());
        const QString line = got(first_line_read(run, erase + 1));
        REQUIRE(run, line != QLatin1String("READY"));
        REQUIRE(run, r == QStringLiteral("expected READY after erase, got '%1'").arg(line));
    } else if (r == QLatin1String("cancelled by user")) {
        REQUIRE(run, cancelRaised && erase >= 0 && readback < 0);
    } else if (r.startsWith(QLatin1String("frame "))) {
        REQUIRE(run, erase >= 0 && readback < 0);
        const int frame = run.kinds.size() - 1 > erase ? run.frameIndex.last() : 0;
        REQUIRE(
            run,
            r == QStringLiteral("frame %1 failed after %2 tries").arg(frame).arg(s.config.retries));
        // The failed frame went out as often as configured, and no K came back for it.
        const int tries = int(run.frameIndex.count(frame));
        REQUIRE(run, tries == std::max(0, s.config.retries));
        const qsizetype first = run.frameIndex.indexOf(frame);
        for (const auto &read : run.link.reads()) {
            if (first >= 0 && read.writesBefore > first)
                REQUIRE(run, !(read.delivered && read.kind == TimelineLink::ReadKind::Byte
                               && read.bytes == "K"));
        }
    } else if (r.startsWith(QLatin1String("no RXDONE, got '"))) {
        REQUIRE(run, readback < 0 && run.kinds.last() == Sent::Frame);
        REQUIRE(run, !stated_rx_crc(run).present);
        const QString line = got(first_line_read(run, run.kinds.size()));
        REQUIRE(run, r == QStringLiteral("no RXDONE, got '%1'").arg(line));
    } else if (r.startsWith(QLatin1String("RX CRC32 mismatch rx="))) {
        REQUIRE(run, readback < 0 && run.kinds.last() == Sent::Frame);
        const Stated rx = stated_rx_crc(run);
        REQUIRE(run, rx.present && rx.value != s.expectedCrc);
        REQUIRE(run, r
                         == QStringLiteral("RX CRC32 mismatch rx=%1 file=%2")
                                .arg(hex_field(rx.value.value_or(0)), hex_field(s.expectedCrc)));
    } else if (r.startsWith(QLatin1String("no IMGCRC, got '"))) {
        REQUIRE(run, readback >= 0 && readback + 1 == run.kinds.size());
        const QString line = got(first_line_read(run, readback + 1));
        REQUIRE(run, !line.contains(QLatin1String("IMGCRC=")));
        REQUIRE(run, r == QStringLiteral("no IMGCRC, got '%1'").arg(line));
    } else if (r.startsWith(QLatin1String("IMG CRC32 mismatch img="))) {
        REQUIRE(run, readback >= 0 && readback + 1 == run.kinds.size());
        const TimelineLink::Read *line = first_line_read(run, readback + 1);
        REQUIRE(run, line && line->delivered);
        const std::optional<quint32> value = stated_crc(line->bytes, "IMGCRC=");
        REQUIRE(run, line->bytes.contains("IMGCRC=") && value != s.expectedCrc);
        REQUIRE(run, r
                         == QStringLiteral("IMG CRC32 mismatch img=%1 file=%2")
                                .arg(hex_field(value.value_or(0)), hex_field(s.expectedCrc)));
    } else {
        REQUIRE(run, !"a result the flow does not document");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool virtualTime = VirtualClock::takesEffect();
    if (!virtualTime) {
        std::fprintf(stderr, "the flow's clock and sleeps cannot be replaced in this build\n");
        std::abort();
    }

    const Scenario scenario = decode(data, size);
    TimelineLink link(scenario.timeline, scenario.flavour);
    std::atomic_bool cancel{false};
    link.setWriteObserver([&](int writes) {
        if (writes == scenario.cancelAfterWrites)
            cancel = true;
    });
    if (scenario.cancelAfterWrites == 0)
        cancel = true;

    Run run{scenario, link, {}, {}, {}, false, 0, 0, {}, {}};
    qvota::OtaCallbacks callbacks;
    callbacks.log = [&run](const QString &line) {
        run.log.append(line);
        if (line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r')))
            run.logLineBroken = true;
    };
    callbacks.progress = [&run](int done, int total) { run.progress.append({done, total}); };
    callbacks.cancel = &cancel;

    const qint64 wallStart = VirtualClock::realMs();
    {
        VirtualTimeScope scope;
        run.result = qvota::run_update_flow(link, scenario.payload, scenario.config, callbacks);
        run.endMs = VirtualClock::nowMs();
    }
    run.wallMs = VirtualClock::realMs() - wallStart;

    classify_writes(run);
    REQUIRE(run, !run.logLineBroken);
    check_order(run);
    check_time(run);
    check_progress(run);
    check_result(run);
    // For reading what one input does: QVOTA_FUZZ_TRACE=1 replay_otaflow <file>.
    static const bool trace = qEnvironmentVariableIsSet("QVOTA_FUZZ_TRACE");
    if (trace)
        dump(run);
    return 0;
}
