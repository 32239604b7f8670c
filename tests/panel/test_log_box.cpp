// The window's log box under a device that never stops talking: what it
// keeps and shows stays bounded, an append costs what it appends, and the
// text read back is exact until the bound is reached.
#include "widgets/text_box.h"

#include <QElapsedTimer>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

using platform::TextBox;

class LogBoxTest : public QObject {
    Q_OBJECT

private slots:
    void exactUntilTheBound()
    {
        TextBox box;
        const QString update = QStringLiteral("\nSTART OK\r\n\nTransferring...\nERASING\r\nWRITE OK\r\n");
        for (int i = 0; i < 50; ++i)
            box.append(update);
        QCOMPARE(box.text(), update.repeated(50));
        box.setText(QStringLiteral("fresh"));
        QCOMPARE(box.text(), QStringLiteral("fresh"));
    }

    // Hex digits without line ends, as a streaming device sends them: the
    // box keeps the most recent text, shows short lines, and the last append
    // costs about what the first did.
    void endlessStreamStaysBounded()
    {
        TextBox box;
        box.resize(600, 300);
        box.show();
        QString chunk;
        for (int i = 0; i < 4999; ++i)
            chunk += QLatin1Char("0123456789ABCDEF"[i % 16]);

        auto appendCost = [&](int count) {
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < count; ++i)
                box.append(chunk);
            QCoreApplication::processEvents();
            return clock.nsecsElapsed() / 1e6 / count;
        };
        const double first = appendCost(20);
        for (int round = 0; round < 10; ++round)
            appendCost(40);  // about 2 MB in all, eight times the bound
        const double last = appendCost(20);

        QVERIFY2(box.text().size() <= TextBox::kLogKept, qPrintable(QString::number(box.text().size())));
        QVERIFY(box.text().size() >= TextBox::kLogKept / 2);
        QVERIFY(box.text().endsWith(chunk));
        QVERIFY(box.document()->blockCount() <= TextBox::kLinesShown);
        for (QTextBlock b = box.document()->begin(); b.isValid(); b = b.next())
            QVERIFY2(b.length() <= TextBox::kLineShown + 1, qPrintable(QString::number(b.length())));
        // Unbounded, the last appends cost hundreds of times the first.
        QVERIFY2(last < first * 8 + 5.0,
                 qPrintable(QStringLiteral("first %1 ms, last %2 ms per append").arg(first).arg(last)));
    }

    // A line end in the stream starts a new shown line: no break lands in
    // the middle of a short line because of what came before it.
    void shortLinesAreNotBroken()
    {
        TextBox box;
        box.append(QString(TextBox::kLineShown - 1, QLatin1Char('x')));
        box.append(QStringLiteral("\r\nSTART OK\r\n"));
        QStringList shown = box.toPlainText().split(QLatin1Char('\n'));
        QVERIFY(shown.contains(QStringLiteral("START OK\r")) || shown.contains(QStringLiteral("START OK")));
    }
};

QTEST_MAIN(LogBoxTest)

#include "test_log_box.moc"
