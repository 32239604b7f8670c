// The fast image checksum against the plain byte-by-byte sum, on random
// images of every awkward length and at every misaligned start.
#include "checksum.h"
#include "package.h"

#include <QRandomGenerator>
#include <QtTest>
#include <vector>

class ChecksumTest : public QObject {
    Q_OBJECT

private slots:
    void matchesPlainSum_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("fill");  // -1 random bytes, else every byte this value
        for (int length : {0, 1, 15, 16, 17, 63, 64, 65, 127, 511, 512, 513, 1000, 4099, 65537})
            QTest::addRow("random %d", length) << length << -1;
        QTest::newRow("all 255, 1 MiB + 3") << (1 << 20) + 3 << 255;
        // 16843010 bytes of 255 go past 2^32: the sum must wrap as 32 bits do.
        QTest::newRow("all 255, sum wraps") << 16843010 + 77 << 255;
        QTest::newRow("random 3 MiB + 5") << (3 << 20) + 5 << -1;
    }
    void matchesPlainSum()
    {
        QFETCH(int, length);
        QFETCH(int, fill);
        QRandomGenerator gen(static_cast<quint32>(length));
        // Room for every start offset 0..15 behind the buffer's own alignment.
        std::vector<uint8_t> bytes(static_cast<size_t>(length) + 16);
        for (uint8_t &b : bytes)
            b = static_cast<uint8_t>(fill >= 0 ? fill : static_cast<int>(gen.bounded(256)));
        for (int start = 0; start < 16; ++start) {
            const uint8_t *data = bytes.data() + start;
            const auto n = static_cast<uint32_t>(length);
            QCOMPARE(static_cast<quint32>(Checksum(data, n)),
                     static_cast<quint32>(ChecksumOctetParOctet(data, n)));
        }
    }

    void plainSumKnownValues()
    {
        const uint8_t abc[] = {'a', 'b', 'c'};
        const uint8_t highLow[] = {255, 1};
        QCOMPARE(static_cast<quint32>(ChecksumOctetParOctet(abc, 3)), 0xFFFFFED9u);
        QCOMPARE(static_cast<quint32>(ChecksumOctetParOctet(abc, 0)), 0xFFFFFFFFu);
        QCOMPARE(static_cast<quint32>(ChecksumOctetParOctet(highLow, 2)), 0xFFFFFEFFu);
    }
};

QTEST_APPLESS_MAIN(ChecksumTest)
#include "test_checksum.moc"
