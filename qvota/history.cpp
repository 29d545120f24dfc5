#include "history.h"

#include "jsonline.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#ifdef Q_OS_WIN
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace qvota::cli {

QString default_history_path()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/quelvane/qvota-history.jsonl");
}

QJsonObject history_record(const BoardResult &result, const ImageFacts &image)
{
    QJsonObject record = result_fields(result);
    record.insert(QStringLiteral("v"), JSON_VERSION);
    record.insert(QStringLiteral("date"), iso_time());
    record.insert(QStringLiteral("board"), result.label);
    // Always there, empty too, so that a history reader finds the same columns in every line.
    record.insert(QStringLiteral("usbSerial"), result.usbSerial);
    record.insert(QStringLiteral("image"), image.path);
    record.insert(QStringLiteral("imageSha256"), image.sha256);
    record.insert(QStringLiteral("tool"), QStringLiteral("qvota " QVOTA_VERSION));
    return record;
}

Expected<std::unique_ptr<HistoryFile>> HistoryFile::open(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return Failure::refused(QStringLiteral("cannot create %1").arg(folder));
    const QByteArray name = QFile::encodeName(path);
#ifdef Q_OS_WIN
    const int fd = ::_open(name.constData(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY,
                           _S_IREAD | _S_IWRITE);
#else
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
#endif
    if (fd < 0)
        return Failure::refused(QStringLiteral("cannot open history file %1: %2")
                                    .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return std::make_unique<HistoryFile>(fd);
}

HistoryFile::HistoryFile(int fd)
    : m_fd(fd)
{}

HistoryFile::~HistoryFile()
{
#ifdef Q_OS_WIN
    ::_close(m_fd);
#else
    ::close(m_fd);
#endif
}

bool HistoryFile::append(const QByteArray &line)
{
#ifdef Q_OS_WIN
    const auto written = ::_write(m_fd, line.constData(), unsigned(line.size()));
#else
    const auto written = ::write(m_fd, line.constData(), size_t(line.size()));
#endif
    return written == line.size();
}

} // namespace qvota::cli
