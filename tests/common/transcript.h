// Reading a command-line run's transcript: runner lines come bare, the update's lines carry a
// "HH:mm:ss.zzz " stamp, and a failure ends with a bare "ERROR: " line.
#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace qvota::test {

struct Transcript
{
    QStringList lines; // stamps removed
    QString problem;   // empty when every line had the form its position calls for
};

// The first bareHead lines must be unstamped, then every line is stamped except a last line
// that begins with "ERROR: ".
Transcript read_transcript(const QStringList &outLines, int bareHead);

// A pattern that matches text literally.
inline QString lit(const QString &text)
{
    return QRegularExpression::escape(text);
}

// Empty when lines match patterns one to one (each pattern anchored at both ends); otherwise a
// description of the first difference.
QString match_lines(const QStringList &lines, const QStringList &patterns);

} // namespace qvota::test
