// quorvel-flash's output: what the camera sent made safe for a terminal,
// the log cut into lines, the progress line's pace, the command line.
#include "options.h"
#include "report.h"
#include "desktop_locale.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <string>

namespace {

double fakeNow = 0;
double fakeClock() { return fakeNow; }

std::string readAll(std::FILE *f)
{
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        text.append(buffer, n);
    return text;
}

} // namespace

class FlashOutputTest : public QObject {
    Q_OBJECT

private slots:
    void visibleLineShowsControls()
    {
        QCOMPARE(visibleLine("START OK"), std::string("START OK"));
        QCOMPARE(visibleLine("a\rb\tc"), std::string("a\\rb\\tc"));
        QCOMPARE(visibleLine("\x1b[2J\x07"), std::string("\\x1b[2J\\x07"));
        QCOMPARE(visibleLine("C:\\x1b"), std::string("C:\\\\x1b"));  // no forged escape
        QCOMPARE(visibleLine("\xc2\x9b" "31m"), std::string("\\xc2\\x9b31m"));  // C1 CSI
        QCOMPARE(visibleLine("caf\xc3\xa9"), std::string("caf\xc3\xa9"));
        QCOMPARE(visibleLine(std::string("a\0b", 3)), std::string("a\\x00b"));
        // Characters that reorder a line on screen: "KWT6083" must not be
        // shown where "3806TWK" was sent.
        QCOMPARE(visibleLine("\xe2\x80\xae" "3806TWK"), std::string("\\u{202e}3806TWK"));
        QCOMPARE(visibleLine("a\xe2\x81\xa6" "b\xe2\x81\xa9\xe2\x80\x8f"), std::string("a\\u{2066}b\\u{2069}\\u{200f}"));
    }

    // A camera that never ends a line: printed in bounded pieces, nothing lost.
    void textWithoutLineEndsIsBounded()
    {
        std::FILE *out = std::tmpfile();
        std::string sent;
        {
            Reporter reporter(ReportMode::Plain, out, stderr, false, fakeClock);
            for (int i = 0; i < 3000; ++i) {
                const std::string piece = "0123456789\xc3\xa9";  // a two-byte letter, never cut in two
                sent += piece;
                reporter.logAppended(piece);
            }
            reporter.finish();
        }
        const std::string printed = readAll(out);
        std::string joined;
        std::size_t longest = 0;
        for (std::size_t start = 0, end; (end = printed.find('\n', start)) != std::string::npos; start = end + 1) {
            longest = std::max(longest, end - start);
            joined += printed.substr(start, end - start);
        }
        QVERIFY(longest <= kLongestLogLine);
        QCOMPARE(joined, sent);
        std::fclose(out);
    }

    void logIsPrintedByWholeLines()
    {
        std::FILE *out = std::tmpfile();
        std::FILE *err = std::tmpfile();
        {
            Reporter reporter(ReportMode::Plain, out, err, false, fakeClock);
            reporter.logAppended("\r\nBootloader v2.10 - RZ4417\r\n");
            reporter.logAppended("START : ");
            reporter.logAppended("START OK\r\n");
            reporter.logAppended("odd\rline\n");
            reporter.logAppended("cut");
            reporter.finish();
        }
        QCOMPARE(readAll(out), std::string("\nBootloader v2.10 - RZ4417\nSTART : START OK\nodd\\rline\ncut\n"));
        std::fclose(out);
        std::fclose(err);
    }

    void progressPaces()
    {
        std::FILE *out = std::tmpfile();
        std::FILE *err = std::tmpfile();
        {
            // Not a terminal: a line at each tenth, whatever the steps.
            Reporter reporter(ReportMode::Plain, out, err, false, fakeClock);
            for (int p : {0, 3, 9, 10, 11, 25, 25, 31, 99, 100})
                reporter.progress({p, p / 100.0, 1.0, 50.0, "00:01"});
        }
        QCOMPARE(QByteArray::fromStdString(readAll(err)).count('\n'), 5);  // 10, 20, 30, 90, 100
        std::fclose(err);
        err = std::tmpfile();
        {
            // A terminal: one line redrawn, ten times a second at most.
            Reporter reporter(ReportMode::Plain, out, err, true, fakeClock);
            fakeNow = 100.0;
            for (int p = 1; p <= 50; ++p) {
                fakeNow += 0.01;  // 50 updates in half a second
                reporter.progress({p, 0, 1.0, 0, "00:00"});
            }
            reporter.finish();
        }
        const QByteArray drawn = QByteArray::fromStdString(readAll(err));
        QVERIFY(drawn.count('\r') >= 5 && drawn.count('\r') <= 6);
        QVERIFY(drawn.endsWith('\n'));
        std::fclose(out);
        std::fclose(err);
    }

    void jsonEventsAreObjects()
    {
        std::FILE *out = std::tmpfile();
        {
            Reporter reporter(ReportMode::Json, out, stderr, true, fakeClock);
            reporter.logAppended("Bootloader \x1b[31m\"RZ4417\"\r\n");
            reporter.progress({42, 0.1, 0.2, 3.0, "00:02"});
            reporter.progress({42, 0.1, 0.2, 3.0, "00:02"});
            reporter.result(1, "the camera answered: ERROR", 2.5, "COM1", 1024);
        }
        const QList<QByteArray> lines = QByteArray::fromStdString(readAll(out)).trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        const QJsonObject log = QJsonDocument::fromJson(lines[0]).object();
        QCOMPARE(log.value("text").toString(), QString("Bootloader \\x1b[31m\"RZ4417\""));
        QCOMPARE(QJsonDocument::fromJson(lines[1]).object().value("percent").toInt(), 42);
        const QJsonObject result = QJsonDocument::fromJson(lines[2]).object();
        QCOMPARE(result.value("code").toInt(), 1);
        QCOMPARE(result.value("result").toString(), QString("failed"));
        QCOMPARE(result.value("elapsed").toDouble(), 2.5);
        std::fclose(out);
    }

    void commandLine()
    {
        FlashOptions options;
        const char *good[] = {"quorvel-flash", "--package=x.kq", "--port", "/dev/ttyACM0", "--port",
                              "/dev/ttyACM1", "--wait", "2.5", "--json"};
        QCOMPARE(parseFlashOptions(9, good, &options), std::string());
        QCOMPARE(options.package, std::string("x.kq"));
        QCOMPARE(options.waitSeconds, 2.5);
        QVERIFY(options.json);
        QCOMPARE(comPortList(options.ports), std::string("1=/dev/ttyACM0,2=/dev/ttyACM1"));
        for (const char *bad : {"--wait=-1", "--wait=nan", "--wait=", "--json=1", "--port=", "-x"}) {
            FlashOptions o;
            const char *argv[] = {"quorvel-flash", bad};
            QVERIFY2(!parseFlashOptions(2, argv, &o).empty(), bad);
        }
    }

    // A French desktop writes "2,5"; the command line still means 2.5 by
    // "2.5", as scripts write it, and refuses "2,5".
    void commandLineUnderAFrenchDesktop()
    {
        QVERIFY(desktop::compileLocale("fr_FR.UTF-8"));
        const std::string before = std::setlocale(LC_NUMERIC, nullptr);
        QVERIFY(std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"));
        FlashOptions dot, comma;
        const char *withDot[] = {"quorvel-flash", "--wait=2.5"};
        const char *withComma[] = {"quorvel-flash", "--wait=2,5"};
        const std::string dotError = parseFlashOptions(2, withDot, &dot);
        const std::string commaError = parseFlashOptions(2, withComma, &comma);
        std::setlocale(LC_NUMERIC, before.c_str());
        QCOMPARE(dotError, std::string());
        QCOMPARE(dot.waitSeconds, 2.5);
        QVERIFY(!commaError.empty());
    }
};

QTEST_GUILESS_MAIN(FlashOutputTest)
#include "test_flash_output.moc"
