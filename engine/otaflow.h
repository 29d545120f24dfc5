// The host side of the board's update protocol: one blocking call that identifies the flash,
// erases APP2, sends the image in acknowledged frames, checks both CRCs and can warm-boot.
#pragma once

#include "expected.h"
#include "link.h"
#include "rundefaults.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace qvota {

// The SPI flash id that the board's update firmware must report.
inline const QString JEDEC_ID = QStringLiteral("C86018");
// Payload bytes per frame; every frame but the last carries exactly this many.
inline constexpr int FRAME_PAYLOAD = 256;
// The APP2 slot is 2 MiB, and 8192 frames keep the frame index within 16 bits.
inline constexpr qint64 MAX_IMAGE_SIZE = 0x200000;

struct OtaConfig
{
    bool warmBoot = false;
    QString target;
    int retries = defaults::RETRIES;
    int eraseTimeoutMs = 180000;
    int bannerWindowMs = 8000;
    bool skipReopen = false;
    bool onChipDecrypt = true;
    quint32 expectedCrc32 = 0;
};

// Where a run is: the phase that failed, or Done after a verified update. Link is the front
// ends' phase before the flow (opening the link); the flow itself starts at Identify.
enum class RunStage { Link, Identify, Erase, Transfer, RxCrc, ImgCrc, WarmBoot, Done };

struct OtaCallbacks
{
    std::function<void(const QString &line)> log;
    std::function<void(int done, int total)> progress;
    // Each phase as it begins; Identify comes first, as soon as the flow runs on the open link.
    std::function<void(RunStage stage)> stage;
    const std::atomic_bool *cancel = nullptr;
};

// CRC-16/CCITT-FALSE over count bytes of data from offset, continuing from register init.
quint16 crc16_ccitt(const QByteArray &data, int offset, int count, quint16 init = 0xFFFF);

// The frame for slice index of payload: AA 55, index (LE16), the slice, CRC-16 (BE16).
QByteArray build_frame(const QByteArray &payload, int index);

// Why the flow refuses a payload of size bytes ("file size N out of range (1..2097152)"), or
// empty when it takes it.
QString image_size_problem(qint64 size);

// Frames needed for a payload of size bytes.
int frame_count(qint64 size);

// Bytes that cross the wire while a payload of size bytes is transferred: every frame with its
// header and CRC, and the board's one-byte acknowledgement of each.
qint64 transfer_wire_bytes(qint64 size);

// How a flow ended, for callers that act on more than its message.
struct FlowResult
{
    std::optional<Failure> failure;     // none after a verified update
    RunStage stage = RunStage::Identify; // the phase that failed, or Done (a refused size: Identify)
    qint64 bytesAcked = 0;              // payload bytes of the acknowledged frames
    double transferSeconds = 0;         // the frames' time, as the log's "transfer done" line
    quint32 expectedCrc32 = 0;
    std::optional<quint32> rxCrc32;     // the board's values, when it reported them
    std::optional<quint32> imgCrc32;
    QString warmBootAnswer;

    bool ok() const { return !failure; }
    // Empty after a verified update, else the message of the first failure.
    QString error() const { return failure ? failure->message : QString(); }
    // A cancel during identification keeps identification's message, but is a cancel.
    bool cancelled() const { return failure && failure->kind == FailureKind::Cancelled; }
};

// Whether a text from the board holds its reply to "j". Over UDP a reply may arrive joined to
// the lines before it, so the marker is looked for anywhere in the text.
bool has_jedec_reply(const QString &text);

// The payload bytes of the first frames frames of a payload of size bytes (the last frame
// carries only the rest).
qint64 frame_bytes(int frames, qint64 size);

// Bytes per second over seconds, the time taken as at least a millisecond.
double bytes_per_second(qint64 bytes, double seconds);

// Runs the whole update on the calling thread. Returns an empty string on success, else
// the message of the first failure.
QString run_update_flow(Link &link, const QByteArray &payload, const OtaConfig &config,
                        const OtaCallbacks &callbacks);

// The same run, with where and how it ended.
FlowResult run_update_flow_result(Link &link, const QByteArray &payload, const OtaConfig &config,
                                  const OtaCallbacks &callbacks);

} // namespace qvota
