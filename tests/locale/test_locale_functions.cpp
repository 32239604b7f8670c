// The loader's own number and word handling under real desktop locales,
// with nothing to protect it: the C library is switched to the desktop's
// locale exactly as the toolkit does at start-up (setlocale(LC_ALL, "")),
// and the parsing, formatting and case folding must still mean what they
// mean in the C locale.
#include "desktop_locale.h"
#include "dialogue.h"
#include "numbers.h"
#include "package.h"

#include <QtTest>
#include <cctype>
#include <clocale>
#include <string>

class LocaleFunctionsTest : public QObject {
    Q_OBJECT

    // Puts the desktop's locale in force and checks it really is: without
    // this the rows below could pass in the C locale and prove nothing.
    static bool underDesktop(const QString &name)
    {
        desktop::setDesktopEnvironment(name.toStdString());
        if (!std::setlocale(LC_ALL, ""))
            return false;
        const bool comma = std::string(std::localeconv()->decimal_point) == ",";
        const bool turkishCase = name.startsWith("tr_") ? std::tolower('I') != 'i' : true;
        return comma && turkishCase;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(desktop::compileLocale("fr_FR.UTF-8"));
        QVERIFY(desktop::compileLocale("tr_TR.UTF-8"));
    }
    void cleanup() { std::setlocale(LC_ALL, "C"); }

    void numbersAndWords_data()
    {
        QTest::addColumn<QString>("desktopLocale");
        QTest::newRow("French desktop") << "fr_FR.UTF-8";
        QTest::newRow("Turkish desktop") << "tr_TR.UTF-8";
    }
    void numbersAndWords()
    {
        QFETCH(QString, desktopLocale);
        QVERIFY2(underDesktop(desktopLocale), "the desktop's locale is not in force");

        // The package header written with a decimal point.
        double versions[2] = {0, 0};
        int32_t sizes[2] = {0, 0};
        QVERIFY(AnalyseEntete("1.5 262144 2.05 196608\r\n", versions, sizes));
        QCOMPARE(versions[0], 1.5);
        QCOMPARE(sizes[0], 262144);
        QCOMPARE(versions[1], 2.05);
        QCOMPARE(sizes[1], 196608);
        // One written with the desktop's comma is no header of ours.
        QVERIFY(!AnalyseEntete("1,5 262144 2,05 196608\n", versions, sizes));

        char line[100];
        FormatLigneInfo(line, sizeof line, "RZ4417", 1.5, 262144, 0);
        QCOMPARE(QString(line), QString("Updating with RZ4417 v01.50 : 0.250 Mb ..."));
        FormatLigneInfo(line, sizeof line, "KWT6083", 10.25, 1572864, 1);
        QCOMPARE(QString::fromUtf8(line), QString::fromUtf8("Mise à jour avec KWT6083 v010.25 : 1.500 Mo ..."));

        // The OCTET label's and the header's numbers.
        char number[32];
        QCOMPARE(FormatFixe(number, sizeof number, 1.5, 3), 5);
        QCOMPARE(QString(number), QString("1.500"));
        char header[17];
        FormatEnteteCamera(header, 262144, 0x87654321u);
        QCOMPARE(QString(header), QString("0004000087654321"));

        // The camera's words in any letter case, ASCII only.
        QVERIFY(ContientMot("file ok\r\n", "FILE OK"));
        QVERIFY(ContientMot("Write Ok\r\n", "WRITE OK"));
        QVERIFY(ContientMot("bootloader v2.10 - kwt6083", "Bootloader v"));
        QVERIFY(ContientMot("BOOTLOADER V2.10 - KWT6083", "kwt6083"));
        QVERIFY(ContientMot("error\r", "ERROR"));
        // A Turkish dotted capital I (UTF-8 C4 B0) is not the camera's I.
        QVERIFY(!ContientMot("F\xC4\xB0LE OK", "FILE OK"));
    }
};

QTEST_APPLESS_MAIN(LocaleFunctionsTest)
#include "test_locale_functions.moc"
