// Container header validation and CRC-32.
#include "container.h"
#include "testimages.h"

#include <QTest>

#include <limits>

using namespace qvota;
using qvota::test::make_container;

class TestContainer : public QObject
{
    Q_OBJECT

private slots:
    void quickTest_data();
    void quickTest();
    void validation_data();
    void validation();
    void infoMap();
    void crcFieldFormatting_data();
    void crcFieldFormatting();
    void outputsAreOptionalAndUntouchedOnFailure();
    void crc32Values_data();
    void crc32Values();
};

void TestContainer::quickTest_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("expected");

    const QByteArray magic("QVBIT002");
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("35 bytes with magic") << magic + QByteArray(27, '\0') << false;
    QTest::newRow("36 bytes with magic") << magic + QByteArray(28, '\0') << true;
    QTest::newRow("lower-case magic") << QByteArray("qvbit002") + QByteArray(28, '\0') << false;
    QTest::newRow("older version") << QByteArray("QVBIT001") + QByteArray(28, '\0') << false;
    QTest::newRow("magic not at start") << QByteArray(" QVBIT002") + QByteArray(28, '\0') << false;
    // Only size and magic count: a nonsense size field still passes the quick test.
    QTest::newRow("zero size field") << make_container({}, 0, 0) << true;
}

void TestContainer::quickTest()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, expected);
    QCOMPARE(is_container(bytes), expected);
}

void TestContainer::validation_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error"); // empty: valid

    const QString badMagic = QStringLiteral("bad magic (not a QVBIT002 file)");
    const QString badSize = QStringLiteral("size field mismatch (truncated or corrupt)");
    const QByteArray payload(100, 'x');
    const qint64 int64Max = std::numeric_limits<qint64>::max();
    const qint64 int64Min = std::numeric_limits<qint64>::min();

    QTest::newRow("35 bytes starting with magic")
        << QByteArray("QVBIT002") + QByteArray(27, '\0') << badMagic;
    QTest::newRow("lower-case magic") << make_container(payload, 100, 0, "qvbit002") << badMagic;
    QTest::newRow("plain bitstream") << QByteArray(500, '\xff') << badMagic;
    QTest::newRow("size 0, header only") << make_container({}, 0, 0) << badSize;
    QTest::newRow("size 0 with payload") << make_container(payload, 0, 0) << badSize;
    QTest::newRow("size 1, 37 bytes") << make_container("A", 1, 0) << QString();
    QTest::newRow("valid 100") << make_container(payload, 100, 0) << QString();
    QTest::newRow("one byte short") << make_container(payload, 101, 0) << badSize;
    QTest::newRow("one byte extra") << make_container(payload, 99, 0) << badSize;
    QTest::newRow("negative size") << make_container(payload, -100, 0) << badSize;
    QTest::newRow("size -36 cancels the header") << make_container({}, -36, 0) << badSize;
    QTest::newRow("int64 max") << make_container(payload, int64Max, 0) << badSize;
    QTest::newRow("int64 max - 35") << make_container(payload, int64Max - 35, 0) << badSize;
    QTest::newRow("int64 min") << make_container(payload, int64Min, 0) << badSize;
}

void TestContainer::validation()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);

    QVariantMap info;
    QString message;
    const bool ok = parse_container(bytes, &info, &message);
    QCOMPARE(ok, error.isEmpty());
    QCOMPARE(message, error);
    QCOMPARE(info.isEmpty(), !ok);
}

void TestContainer::infoMap()
{
    QVariantMap info;
    QVERIFY(parse_container(make_container("A", 1, 0x12345678), &info, nullptr));
    QCOMPARE(info.size(), 3);
    QCOMPARE(info.value(QStringLiteral("size")).toLongLong(), 1);
    QCOMPARE(info.value(QStringLiteral("containerSize")).toLongLong(), 37);
    QCOMPARE(info.value(QStringLiteral("crc32")).toString(), QStringLiteral("12345678"));

    // Existing unrelated entries stay; the three keys are inserted.
    QVariantMap other{{QStringLiteral("keep"), 1}};
    QVERIFY(parse_container(make_container(QByteArray(4096, 'z'), 0xdeadbeef), &other, nullptr));
    QCOMPARE(other.value(QStringLiteral("keep")).toInt(), 1);
    QCOMPARE(other.value(QStringLiteral("size")).toLongLong(), 4096);
    QCOMPARE(other.value(QStringLiteral("containerSize")).toLongLong(), 4096 + 36);
}

void TestContainer::crcFieldFormatting_data()
{
    QTest::addColumn<quint32>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0u << QStringLiteral("00000000");
    QTest::newRow("short value padded") << 0xABCDu << QStringLiteral("0000ABCD");
    QTest::newRow("upper case") << 0xdeadbeefu << QStringLiteral("DEADBEEF");
    QTest::newRow("top bit") << 0x80000001u << QStringLiteral("80000001");
}

void TestContainer::crcFieldFormatting()
{
    QFETCH(quint32, field);
    QFETCH(QString, text);
    QVariantMap info;
    QVERIFY(parse_container(make_container("payload", field), &info, nullptr));
    QCOMPARE(info.value(QStringLiteral("crc32")).toString(), text);
}

void TestContainer::outputsAreOptionalAndUntouchedOnFailure()
{
    QVariantMap info{{QStringLiteral("before"), true}};
    QString error = QStringLiteral("unchanged");
    QVERIFY(parse_container(make_container("abc", 3, 1), &info, &error));
    QCOMPARE(error, QStringLiteral("unchanged")); // success leaves the error text alone

    const QVariantMap snapshot = info;
    QVERIFY(!parse_container(make_container("abc", 4, 1), &info, &error));
    QCOMPARE(info, snapshot);
    QCOMPARE(error, QStringLiteral("size field mismatch (truncated or corrupt)"));

    // Without outputs only the verdict comes back.
    QVERIFY(parse_container(make_container("abc", 3, 1), nullptr, nullptr));
    QVERIFY(!parse_container(QByteArray("short"), nullptr, nullptr));
}

void TestContainer::crc32Values_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("crc");
    QTest::newRow("check value") << QByteArray("123456789") << 0xCBF43926u;
    QTest::newRow("empty") << QByteArray() << 0x00000000u;
    QTest::newRow("one zero byte") << QByteArray(1, '\0') << 0xD202EF8Du;
    QTest::newRow("fox") << QByteArray("The quick brown fox jumps over the lazy dog")
                         << 0x414FA339u;
    QTest::newRow("all ones") << QByteArray(4, '\xff') << 0xFFFFFFFFu;
}

void TestContainer::crc32Values()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, crc);
    QCOMPARE(crc32(bytes), crc);
}

QTEST_APPLESS_MAIN(TestContainer)
#include "tst_container.moc"
