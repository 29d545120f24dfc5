#include "jsonline.h"

#include <QJsonDocument>

#include <cstdlib>

namespace qvota::cli {

QString iso_time(const QDateTime &time)
{
    // Qt writes "Z" or nothing for some time specs; a reader of a history file from another
    // site wants the offset, always.
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"))
        + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        + QString::number(minutes / 60).rightJustified(2, QLatin1Char('0')) + QLatin1Char(':')
        + QString::number(minutes % 60).rightJustified(2, QLatin1Char('0'));
}

QJsonObject event_object(const QString &event, const QString &board)
{
    QJsonObject object{{QStringLiteral("v"), JSON_VERSION},
                       {QStringLiteral("event"), event},
                       {QStringLiteral("time"), iso_time()}};
    if (!board.isEmpty())
        object.insert(QStringLiteral("board"), board);
    return object;
}

QByteArray json_line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace qvota::cli
