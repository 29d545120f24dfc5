// The frame CRC-16 and the frame layout that the board parses byte by byte.
#include "otaflow.h"
#include "testimages.h"

#include <QtTest>

using qvota::build_frame;
using qvota::crc16_ccitt;
using qvota::FRAME_PAYLOAD;

namespace {

// Bit-by-bit CRC-16/CCITT-FALSE, written independently of the engine's table-driven one.
quint16 reference_crc16(const QByteArray &bytes)
{
    quint16 reg = 0xFFFF;
    for (const char c : bytes) {
        reg ^= quint16(uchar(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x8000) ? quint16((reg << 1) ^ 0x1021) : quint16(reg << 1);
    }
    return reg;
}

// A payload whose slice for index holds sliceLength bytes, all of value fill.
QByteArray payload_with_slice(int index, int sliceLength, char fill)
{
    QByteArray payload = qvota::test::pattern_bytes(index * FRAME_PAYLOAD, 7);
    payload.append(QByteArray(sliceLength, fill));
    return payload;
}

} // namespace

class TestFrame : public QObject
{
    Q_OBJECT

private slots:
    void crc16_data();
    void crc16();
    void crc16Continuation_data();
    void crc16Continuation();
    void frameBytes_data();
    void frameBytes();
    void frameLayout_data();
    void frameLayout();
};

void TestFrame::crc16_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("init");
    QTest::addColumn<int>("expected");

    QTest::newRow("check value") << QByteArray("123456789") << 0 << 9 << 0xFFFF << 0x29B1;
    QTest::newRow("window inside") << QByteArray("xx123456789yy") << 2 << 9 << 0xFFFF << 0x29B1;
    QTest::newRow("nothing counted keeps init") << QByteArray("abc") << 1 << 0 << 0x1234 << 0x1234;
    QTest::newRow("single A") << QByteArray("A") << 0 << 1 << 0xFFFF << 0xB915;
    QTest::newRow("index 0x0102 and byte 00")
        << QByteArray::fromHex("020100") << 0 << 3 << 0xFFFF << 0x91CD;
    QTest::newRow("all ones") << QByteArray(32, char(0xFF)) << 0 << 32 << 0xFFFF << 0x75F8;
    // Out-of-range arguments must not read outside the array: only the bytes present count.
    QTest::newRow("count past the end") << QByteArray("123456789") << 0 << 50 << 0xFFFF << 0x29B1;
    QTest::newRow("negative offset") << QByteArray("123456789") << -3 << 12 << 0xFFFF << 0x29B1;
    QTest::newRow("offset past the end") << QByteArray("123") << 7 << 2 << 0xFFFF << 0xFFFF;
    QTest::newRow("negative count") << QByteArray("123") << 1 << -2 << 0xFFFF << 0xFFFF;
    QTest::newRow("empty array") << QByteArray() << 0 << 4 << 0xABCD << 0xABCD;
}

void TestFrame::crc16()
{
    QFETCH(QByteArray, data);
    QFETCH(int, offset);
    QFETCH(int, count);
    QFETCH(int, init);
    QFETCH(int, expected);

    QCOMPARE(int(crc16_ccitt(data, offset, count, quint16(init))), expected);
}

void TestFrame::crc16Continuation_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("split");

    const QByteArray frameBody = QByteArray::fromHex("0201") + qvota::test::pattern_bytes(256, 3);
    QTest::newRow("index then payload") << frameBody << 2;
    QTest::newRow("split at start") << frameBody << 0;
    QTest::newRow("split at end") << frameBody << int(frameBody.size());
    QTest::newRow("odd split") << qvota::test::pattern_bytes(1000, 9) << 517;
}

void TestFrame::crc16Continuation()
{
    QFETCH(QByteArray, data);
    QFETCH(int, split);

    const int size = int(data.size());
    const quint16 head = crc16_ccitt(data, 0, split);
    const quint16 continued = crc16_ccitt(data, split, size - split, head);
    QCOMPARE(continued, crc16_ccitt(data, 0, size));
    QCOMPARE(continued, reference_crc16(data));
}

void TestFrame::frameBytes_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("index 0x0102, one byte 00") << payload_with_slice(0x0102, 1, '\0') << 0x0102
                                               << QByteArray::fromHex("AA55020100"
                                                                      "91CD");
    QTest::newRow("index 0, one byte '1'") << QByteArray("1") << 0
                                           << QByteArray::fromHex("AA550000"
                                                                  "31"
                                                                  "EAEE");
    // Requests for a slice that does not exist give no frame at all.
    QTest::newRow("index past the end") << QByteArray(256, 'x') << 1 << QByteArray();
    QTest::newRow("negative index") << QByteArray(256, 'x') << -1 << QByteArray();
    QTest::newRow("empty payload") << QByteArray() << 0 << QByteArray();
    QTest::newRow("index beyond 16 bits")
        << QByteArray(0x10000 * 256 + 1, 'x') << 0x10000 << QByteArray();
}

void TestFrame::frameBytes()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, index);
    QFETCH(QByteArray, expected);

    QCOMPARE(build_frame(payload, index).toHex(' '), expected.toHex(' '));
}

void TestFrame::frameLayout_data()
{
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("sliceLength");

    QTest::newRow("full first frame") << 1000 << 0 << 256;
    QTest::newRow("256 bytes: one full frame") << 256 << 0 << 256;
    QTest::newRow("257 bytes: full first") << 257 << 0 << 256;
    QTest::newRow("257 bytes: last carries 1") << 257 << 1 << 1;
    QTest::newRow("512 bytes: last full") << 512 << 1 << 256;
    QTest::newRow("513 bytes: last carries 1") << 513 << 2 << 1;
    QTest::newRow("300 bytes: last carries 44") << 300 << 1 << 44;
    QTest::newRow("largest image: last index") << int(qvota::MAX_IMAGE_SIZE) << 8191 << 256;
    QTest::newRow("index with both bytes set") << 0x1235 * 256 + 17 << 0x1234 << 256;
}

void TestFrame::frameLayout()
{
    QFETCH(int, payloadSize);
    QFETCH(int, index);
    QFETCH(int, sliceLength);

    const QByteArray payload = qvota::test::pattern_bytes(payloadSize, quint32(payloadSize));
    const QByteArray frame = build_frame(payload, index);
    QCOMPARE(frame.size(), sliceLength + 6);
    QCOMPARE(uchar(frame[0]), uchar(0xAA));
    QCOMPARE(uchar(frame[1]), uchar(0x55));
    QCOMPARE(uchar(frame[2]), uchar(index & 0xFF));
    QCOMPARE(uchar(frame[3]), uchar(index >> 8));
    QCOMPARE(frame.mid(4, sliceLength), payload.mid(index * FRAME_PAYLOAD, sliceLength));

    const quint16 crc = reference_crc16(frame.mid(2, 2 + sliceLength));
    QCOMPARE(uchar(frame[4 + sliceLength]), uchar(crc >> 8));
    QCOMPARE(uchar(frame[5 + sliceLength]), uchar(crc & 0xFF));
}

QTEST_APPLESS_MAIN(TestFrame)
#include "tst_frame.moc"
