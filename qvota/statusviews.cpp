#include "statusviews.h"

#include "jsonline.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace qvota::cli {

namespace {

QJsonObject result_json(const SlotResult &result)
{
    return {{QStringLiteral("outcome"), outcome_name(result.outcome)},
            {QStringLiteral("stage"), result.stage},
            {QStringLiteral("message"), result.message},
            {QStringLiteral("seconds"), result.seconds},
            {QStringLiteral("bytes"), result.bytes},
            {QStringLiteral("time"), iso_time(result.time)}};
}

QJsonObject slot_json(const SlotStatus &slot)
{
    QJsonObject object{{QStringLiteral("board"), slot.board},
                       {QStringLiteral("state"), phase_name(slot.phase)},
                       {QStringLiteral("sentBytes"), slot.sentBytes},
                       {QStringLiteral("failuresInRow"), slot.failuresInRow}};
    if (!slot.port.isEmpty())
        object.insert(QStringLiteral("port"), slot.port);
    if (slot.phase == SlotPhase::Updating) {
        object.insert(QStringLiteral("stage"), slot.stage);
        object.insert(QStringLiteral("done"), slot.done);
        object.insert(QStringLiteral("total"), slot.total);
        object.insert(QStringLiteral("percent"), slot.total > 0 ? 100 * slot.done / slot.total : 0);
        if (slot.secondsLeft)
            object.insert(QStringLiteral("secondsLeft"), std::round(*slot.secondsLeft * 10) / 10);
    }
    if (slot.last)
        object.insert(QStringLiteral("last"), result_json(*slot.last));
    return object;
}

// Prometheus label values: backslash, double quote and line feed escaped.
QByteArray label_value(const QString &text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

QByteArray number(double value)
{
    if (std::isinf(value))
        return value > 0 ? QByteArrayLiteral("+Inf") : QByteArrayLiteral("-Inf");
    return QByteArray::number(value, 'g', 15);
}

class Exposition
{
public:
    void family(const char *name, const char *type, const char *help)
    {
        m_out += QByteArrayLiteral("# HELP ") + name + ' ' + help + '\n';
        m_out += QByteArrayLiteral("# TYPE ") + name + ' ' + type + '\n';
    }

    // labels: name="value" pairs, already escaped
    void sample(const QByteArray &name, const QByteArray &labels, double value)
    {
        m_out += name;
        if (!labels.isEmpty())
            m_out += '{' + labels + '}';
        m_out += ' ' + number(value) + '\n';
    }

    QByteArray text() const { return m_out; }

private:
    QByteArray m_out;
};

QByteArray slot_label(const SlotStatus &slot)
{
    return QByteArrayLiteral("slot=\"") + label_value(slot.board) + '"';
}

} // namespace

QByteArray status_json(const StationSnapshot &snapshot)
{
    const StationFacts &facts = snapshot.facts;
    std::array<qint64, OUTCOMES.size()> counts{};
    QJsonArray slotList;
    for (const SlotStatus &slot : snapshot.slotList) {
        slotList.append(slot_json(slot));
        for (size_t i = 0; i < counts.size(); ++i)
            counts[i] += qint64(slot.totals.updates[i]);
    }
    QJsonObject countsObject;
    for (const Outcome outcome : OUTCOMES)
        countsObject.insert(outcome_name(outcome), counts[size_t(outcome)]);
    const QJsonObject object{
        {QStringLiteral("v"), JSON_VERSION},
        {QStringLiteral("time"), iso_time(snapshot.time)},
        {QStringLiteral("host"), facts.host},
        {QStringLiteral("version"), facts.version},
        {QStringLiteral("startedAt"), iso_time(facts.startedAt)},
        {QStringLiteral("uptimeSeconds"), std::floor(snapshot.uptimeSeconds)},
        {QStringLiteral("image"),
         QJsonObject{{QStringLiteral("name"), facts.imageName},
                     {QStringLiteral("sha256"), facts.imageSha256},
                     {QStringLiteral("bytes"), facts.imageBytes}}},
        {QStringLiteral("counts"), countsObject},
        {QStringLiteral("slots"), slotList}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray metrics_text(const StationSnapshot &snapshot)
{
    const StationFacts &facts = snapshot.facts;
    Exposition out;
    out.family("qvota_station_info", "gauge",
               "The station's program version and the image it writes; always 1.");
    out.sample("qvota_station_info",
               "version=\"" + label_value(facts.version) + "\",image=\""
                   + label_value(facts.imageName) + "\",image_sha256=\""
                   + label_value(facts.imageSha256) + '"',
               1);
    out.family("qvota_station_start_time_seconds", "gauge",
               "When the station started, in seconds since the Unix epoch.");
    out.sample("qvota_station_start_time_seconds", {},
               double(facts.startedAt.toMSecsSinceEpoch()) / 1000.0);

    out.family("qvota_updates_total", "counter", "Finished board updates by slot and outcome.");
    for (const SlotStatus &slot : snapshot.slotList) {
        for (const Outcome outcome : OUTCOMES) {
            out.sample("qvota_updates_total",
                       slot_label(slot) + ",outcome=\"" + outcome_name(outcome).toLatin1() + '"',
                       double(slot.totals.updates[size_t(outcome)]));
        }
    }
    out.family("qvota_sent_bytes_total", "counter",
               "Image bytes the slot's boards acknowledged, the running update's included.");
    for (const SlotStatus &slot : snapshot.slotList)
        out.sample("qvota_sent_bytes_total", slot_label(slot), double(slot.sentBytes));

    out.family("qvota_update_duration_seconds", "histogram",
               "How long finished updates took, from opening the link to closing it.");
    for (const SlotStatus &slot : snapshot.slotList) {
        const SlotTotals &totals = slot.totals;
        const QByteArray label = slot_label(slot);
        quint64 cumulative = 0;
        for (size_t i = 0; i < totals.durations.size(); ++i) {
            cumulative += totals.durations[i];
            const double bound = i < DURATION_BUCKETS.size() ? DURATION_BUCKETS[i] : INFINITY;
            out.sample("qvota_update_duration_seconds_bucket",
                       label + ",le=\"" + number(bound) + '"', double(cumulative));
        }
        out.sample("qvota_update_duration_seconds_sum", label, totals.durationSum);
        out.sample("qvota_update_duration_seconds_count", label, double(totals.durationCount));
    }

    out.family("qvota_slot_state", "gauge",
               "1 for the state the slot is in (waiting, updating, verified, failed, cancelled, "
               "gone), 0 for the others.");
    for (const SlotStatus &slot : snapshot.slotList) {
        for (const SlotPhase phase : SLOT_PHASES) {
            out.sample("qvota_slot_state",
                       slot_label(slot) + ",state=\"" + phase_name(phase).toLatin1() + '"',
                       slot.phase == phase ? 1 : 0);
        }
    }
    out.family("qvota_slot_consecutive_failures", "gauge",
               "Failed updates at the slot since its last verified one.");
    for (const SlotStatus &slot : snapshot.slotList)
        out.sample("qvota_slot_consecutive_failures", slot_label(slot), slot.failuresInRow);
    out.family("qvota_slot_last_result_timestamp_seconds", "gauge",
               "When the slot's last update finished, in seconds since the Unix epoch; absent "
               "before the first.");
    for (const SlotStatus &slot : snapshot.slotList) {
        if (slot.last)
            out.sample("qvota_slot_last_result_timestamp_seconds", slot_label(slot),
                       double(slot.last->time.toMSecsSinceEpoch()) / 1000.0);
    }
    return out.text();
}

} // namespace qvota::cli
