// Build-time helper: writes the window icon in the hicolor theme's sizes,
// OUT_DIR/<N>x<N>/apps/NAME.png for each size N given.
//
// The one committed icon (256 px) stays the only source; deriving the smaller sizes here keeps
// them from drifting when the icon is redrawn, without ImageMagick at build time.

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "qvota-icon-sizes: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5)
        return fail(QStringLiteral("usage: qvota-icon-sizes SOURCE.png OUT_DIR NAME SIZE..."));

    const QString sourcePath = QString::fromLocal8Bit(argv[1]);
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);

    QImage source(sourcePath);
    if (source.isNull())
        return fail(QStringLiteral("cannot read %1").arg(sourcePath));
    if (source.width() != source.height())
        return fail(QStringLiteral("%1 is %2x%3, not square")
                        .arg(sourcePath, QString::number(source.width()),
                             QString::number(source.height())));
    // Scaling works on premultiplied pixels, so the dark edge of the rounded square does not
    // bleed a halo into the transparent corners.
    source = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);

    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size <= 0)
            return fail(QStringLiteral("bad size '%1'").arg(QString::fromLocal8Bit(argv[i])));
        // An enlarged icon would only be blurred; the theme falls back to scaling by itself.
        if (size > source.width())
            return fail(QStringLiteral("size %1 is larger than the %2 px source")
                            .arg(QString::number(size), QString::number(source.width())));

        const QImage scaled =
            size == source.width()
                ? source
                : source.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir, QString::number(size));
        if (!QDir().mkpath(dir))
            return fail(QStringLiteral("cannot create %1").arg(dir));
        const QString path = QStringLiteral("%1/%2.png").arg(dir, name);
        if (!scaled.convertToFormat(QImage::Format_ARGB32).save(path, "PNG"))
            return fail(QStringLiteral("cannot write %1").arg(path));
    }
    return 0;
}
