// What the simulated board saw during a run, kept so that tests and users can check the
// host's behaviour after the fact; written as JSON.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace qvota::sim {

struct Record
{
    int identify = 0;    // "j" commands, answered or not
    QList<qint64> erase; // announced lengths, in range or not
    QList<int> frames;   // indices of frames with a good CRC-16, in arrival order
    int badFrames = 0;   // frames dropped for a bad CRC-16 or a wrong length
    int readback = 0;    // "F" commands
    QStringList targets; // boot slots selected, "1" or "2"
    int warmBoot = 0;    // "b" commands
    int updates = 0;     // transfers completed (every frame stored)
    QString lastRxCrc;   // the CRC-32 reported after the last completed transfer

    QJsonObject toJson() const;
};

// Replaces path with the record atomically, so a reader never sees half a file.
bool write_record(const Record &record, const QString &path);

} // namespace qvota::sim
