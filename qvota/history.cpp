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
    return {{QStringLiteral("v"), JSON_VERSION},
            {QStringLiteral("date"), iso_time()},
            {QStringLiteral("board"), result.label},
            {QStringLiteral("port"), result.port},
            {QStringLiteral("usbSerial"), result.usbSerial},
            {QStringLiteral("image"), image.path},
            {QStringLiteral("imageSha256"), image.sha256},
            {QStringLiteral("outcome"), outcome_name(result.outcome())},
            {QStringLiteral("stage"), stage_name(result.run.stage)},
            {QStringLiteral("message"), result.run.error},
            {QStringLiteral("seconds"), result.run.seconds},
            {QStringLiteral("bytes"), result.run.bytes},
            {QStringLiteral("tool"), QStringLiteral("qvota " QVOTA_VERSION)}};
}

std::unique_ptr<HistoryFile> HistoryFile::open(const QString &path, QString *error)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create %1").arg(folder);
        return nullptr;
    }
    const QByteArray name = QFile::encodeName(path);
#ifdef Q_OS_WIN
    const int fd = ::_open(name.constData(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY,
                           _S_IREAD | _S_IWRITE);
#else
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
#endif
    if (fd < 0) {
        *error = QStringLiteral("cannot open history file %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
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
