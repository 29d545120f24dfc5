#include "fakecontroller.h"

#include "browse.h"
#include "imagesummary.h"
#include "logexport.h"

#include <QMetaMethod>
#include <QMetaProperty>

using namespace qvota;

void FakeController::setFakeRunning(bool running)
{
    m_running = running;
    emit runningChanged();
}

void FakeController::setFakeProgressDone(int done)
{
    m_progressDone = done;
    emit progressChanged();
}

void FakeController::setFakeProgressTotal(int total)
{
    m_progressTotal = total;
    emit progressChanged();
}

QStringList FakeController::browseDrives() const
{
    return browse_drives();
}

QVariantMap FakeController::browseListDir(const QString &path, const QVariantList &filters) const
{
    return browse_list_dir(path, filters);
}

QVariantMap FakeController::browseCreateDir(const QString &path, const QString &baseName) const
{
    return browse_create_dir(path, baseName);
}

QVariantMap FakeController::browseRenameDir(const QString &path, const QString &newName) const
{
    return browse_rename_dir(path, newName);
}

QVariantMap FakeController::imageSummary(const QString &path) const
{
    return inspect_image(path);
}

QString FakeController::saveLog(const QString &path, const QStringList &lines)
{
    m_savedLines = lines;
    return save_log(path, lines);
}

QVariantMap FakeController::browseListAll(const QString &path) const
{
    return list_save_folder(path);
}

bool FakeController::browseExists(const QString &path) const
{
    return save_target_exists(path);
}

QStringList qml_interface(const QMetaObject &type, const QString &skipPrefix)
{
    const auto skipped = [&](const QByteArray &name) {
        return !skipPrefix.isEmpty() && QString::fromUtf8(name).startsWith(skipPrefix);
    };
    QStringList lines;
    for (int i = type.propertyOffset(); i < type.propertyCount(); ++i) {
        const QMetaProperty p = type.property(i);
        if (!skipped(p.name()))
            lines << QStringLiteral("property %1 %2 %3 notify %4")
                         .arg(QString::fromUtf8(p.typeName()), QString::fromUtf8(p.name()),
                              p.isWritable() ? QStringLiteral("writable") : QStringLiteral("read-only"),
                              QString::fromUtf8(p.notifySignal().name()));
    }
    for (int i = type.methodOffset(); i < type.methodCount(); ++i) {
        const QMetaMethod m = type.method(i);
        if (m.access() != QMetaMethod::Public || skipped(m.name()))
            continue;
        const char *kind = m.methodType() == QMetaMethod::Signal ? "signal"
                           : m.methodType() == QMetaMethod::Slot ? "slot"
                                                                 : "invokable";
        lines << QStringLiteral("%1 %2 %3 %4")
                     .arg(QLatin1String(kind), QString::fromUtf8(m.typeName()),
                          QString::fromUtf8(m.methodSignature()),
                          QString::fromUtf8(m.parameterNames().join(',')))
                     .trimmed();
    }
    return lines;
}
