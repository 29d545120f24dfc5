// The files the window touches besides a run: the image summary, judged from the header alone,
// and the saved log.
#include "container.h"
#include "imagesummary.h"
#include "logexport.h"
#include "otaflow.h"
#include "testimages.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace qvota;
using namespace qvota::test;

class TestImageFiles : public QObject
{
    Q_OBJECT

private slots:
    void summaryAgreesWithARun_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error"); // empty: a valid container
        const QByteArray payload = pattern_bytes(1000);
        QTest::newRow("valid") << make_container(payload, 0xABCDu) << QString();
        QTest::newRow("one byte") << make_container("x", 0u) << QString();
        QTest::newRow("plain") << pattern_bytes(5000)
                               << u"not a .qvbit encrypted image (plain .sbit/.bin rejected)"_s;
        QTest::newRow("short") << QByteArray("QVBIT002", 8)
                               << u"not a .qvbit encrypted image (plain .sbit/.bin rejected)"_s;
        QTest::newRow("truncated") << make_container(payload, 1001, 0u)
                                   << u"qvbit: size field mismatch (truncated or corrupt)"_s;
        QTest::newRow("longer") << make_container(payload, 999, 0u)
                                << u"qvbit: size field mismatch (truncated or corrupt)"_s;
        QTest::newRow("zero size")
            << make_container({}, 0, 0u) << u"qvbit: size field mismatch (truncated or corrupt)"_s;
        QTest::newRow("negative") << make_container(payload, -1, 0u)
                                  << u"qvbit: size field mismatch (truncated or corrupt)"_s;
        // The flow would refuse it: the whole container has to fit the slot.
        const QByteArray big(int(MAX_IMAGE_SIZE) - 35, 'z');
        QTest::newRow("too big") << make_container(big, 0u)
                                 << u"file size 2097153 out of range (1..2097152)"_s;
        QTest::newRow("largest") << make_container(big.left(big.size() - 1), 0u) << QString();
    }

    void summaryAgreesWithARun()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QVariantMap summary = inspect_image(write_file(dir, u"f.qvbit"_s, bytes));
        QCOMPARE(summary.value(u"error"_s).toString(), error);
        QCOMPARE(summary.value(u"ok"_s).toBool(), error.isEmpty());
        if (!error.isEmpty())
            return;
        QVariantMap whole;
        QVERIFY(parse_container(bytes, &whole, nullptr));
        for (const QString &key : {u"size"_s, u"containerSize"_s, u"crc32"_s})
            QCOMPARE(summary.value(key), whole.value(key));
        const qint64 frames = (bytes.size() + 255) / 256;
        QCOMPARE(summary.value(u"frames"_s).toLongLong(), frames);
        // Six framing bytes and the one-byte ack for every frame.
        QCOMPARE(summary.value(u"wireBytes"_s).toLongLong(), bytes.size() + 7 * frames);
    }

    void summaryOfWhatCannotBeRead()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(u"missing.qvbit"_s);
        QCOMPARE(inspect_image(missing).value(u"error"_s).toString(),
                 QString(u"cannot read "_s + missing));
        // A run says the same of a folder; a pipe is refused before it is opened, which would
        // block.
        QCOMPARE(inspect_image(dir.path()).value(u"error"_s).toString(),
                 QString(u"cannot read "_s + dir.path()));
        const QString fifo = dir.filePath(u"fifo"_s);
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(inspect_image(fifo).value(u"error"_s).toString(),
                 u"cannot read %1: not a regular file"_s.arg(fifo));
    }

    void saveLog()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"run.log"_s);
        const QStringList lines{u"12:00:00.000 RX> JEDEC=C86018"_s, u"[OK] OTA FLOW COMPLETE"_s,
                                u"日本語 %1"_s};
        QCOMPARE(save_log(path, lines), QString());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), QString(lines.join(u'\n') + u'\n'));
        file.close();

        // A second save replaces the file; a failed one says why and leaves nothing behind.
        QCOMPARE(save_log(path, {u"second"_s}), QString());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("second\n"));
        const QString nowhere = dir.filePath(u"no/such/folder/run.log"_s);
        const QString error = save_log(nowhere, lines);
        QVERIFY2(error.startsWith(u"cannot write "_s + nowhere + u": "_s), qPrintable(error));
        QVERIFY(!QFile::exists(nowhere));
    }
};

QTEST_GUILESS_MAIN(TestImageFiles)
#include "tst_imagefiles.moc"
