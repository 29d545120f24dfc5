#include "record.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace qvota::sim {

QJsonObject Record::toJson() const
{
    QJsonArray eraseArray;
    for (const qint64 length : erase)
        eraseArray.append(length);
    QJsonArray frameArray;
    for (const int index : frames)
        frameArray.append(index);
    return QJsonObject{
        {QStringLiteral("identify"), identify},
        {QStringLiteral("erase"), eraseArray},
        {QStringLiteral("frames"), frameArray},
        {QStringLiteral("badFrames"), badFrames},
        {QStringLiteral("readback"), readback},
        {QStringLiteral("targets"), QJsonArray::fromStringList(targets)},
        {QStringLiteral("warmBoot"), warmBoot},
        {QStringLiteral("updates"), updates},
        {QStringLiteral("lastRxCrc"), lastRxCrc},
    };
}

bool write_record(const Record &record, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(record.toJson()).toJson(QJsonDocument::Indented));
    return file.commit();
}

} // namespace qvota::sim
