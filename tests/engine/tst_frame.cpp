// The frame CRC-16 and the frame layout that the board parses byte by byte.
#include "otaflow.h"
#include "testimages.h"

#include <QtTest>

using qvota::build_frame;
using qvota::crc16_ccitt;

class TestFrame : public QObject
{
    Q_OBJECT

private slots:
    void crc16();
    void frameBytes();
    void lastFrameSize_data();
    void lastFrameSize();
};

void TestFrame::crc16()
{
    const QByteArray check("123456789");
    QCOMPARE(crc16_ccitt(check, 0, 9), quint16(0x29B1));
    // The frame CRC is taken over index and payload in one pass; a continued register must agree.
    QCOMPARE(crc16_ccitt(check, 4, 5, crc16_ccitt(check, 0, 4)), quint16(0x29B1));
    const QByteArray data = qvota::test::pattern_bytes(1000, 9);
    QCOMPARE(crc16_ccitt(data, 517, 483, crc16_ccitt(data, 0, 517)), crc16_ccitt(data, 0, 1000));
}

void TestFrame::frameBytes()
{
    // Index 0x0102 goes out little-endian, the CRC over "02 01 00" big-endian.
    const QByteArray payload = QByteArray(0x0102 * 256, 'x') + QByteArray(1, '\0');
    QCOMPARE(build_frame(payload, 0x0102).toHex(' '), QByteArray("aa 55 02 01 00 91 cd"));
}

void TestFrame::lastFrameSize_data()
{
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("sliceLength");

    QTest::newRow("257 bytes: last carries 1") << 257 << 1 << 1;
    QTest::newRow("300 bytes: last carries 44") << 300 << 1 << 44;
    QTest::newRow("512 bytes: last full") << 512 << 1 << 256;
    QTest::newRow("largest image: last full") << int(qvota::MAX_IMAGE_SIZE) << 8191 << 256;
}

void TestFrame::lastFrameSize()
{
    QFETCH(int, payloadSize);
    QFETCH(int, index);
    QFETCH(int, sliceLength);

    const QByteArray payload = qvota::test::pattern_bytes(payloadSize, quint32(payloadSize));
    const QByteArray frame = build_frame(payload, index);
    QCOMPARE(frame.size(), sliceLength + 6);
    QCOMPARE(frame.mid(4, sliceLength), payload.right(sliceLength));
    QCOMPARE(frame.right(2).toHex(),
             QByteArray::number(crc16_ccitt(frame, 2, 2 + sliceLength), 16).rightJustified(4, '0'));
}

QTEST_APPLESS_MAIN(TestFrame)
#include "tst_frame.moc"
