// The window and the window-less panel side by side: the same calls, drawn
// at random over every control, value kind and attribute (edge values
// included), go to a panel of each; every call must return the same code,
// and after each one everything the program can read back (values in the
// three kinds, attributes, the title) must be the same on both.
#include "panel.h"
#include "runtime.h"
#include "ui_constants.h"

#include "panel_backend.h"
#include "panel_headless.h"
#include "panel_qt.h"

#include <QApplication>
#include <QtTest>

#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The values the calls take: the ordinary ones the loader writes and the
// edges where conversions differ (rounding, ranges, NaN, 8-bit text).
const int kInts[] = {0, 1, -1, 2, 7, 50, 100, 101, 150, -5, 255, 0xFF0000, 0x123456, INT_MAX, INT_MIN};
const double kDoubles[] = {0.0, 0.5, 1.5, 2.5, -0.5, 49.6, 99.5, 100.4, 0.2, 0.001, 3.14159, 1e12, -1e12,
                           1e-300, 100.0, 1e6, 123456789012.0, 2147483647.0, 2147483647.6, -2147483648.4,
                           std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};
const char *const kTexts[] = {"", "x", "START OK\r\n", "12", "caf\xe9", "caf\xc3\xa9", "__Start", "a&b",
                              "\n", "1e3", "  7 ", "\x1b[31mred", "Transferring file...\n"};
const CtrlAttribute kAttributes[] = {ATTR_VISIBLE,    ATTR_DIMMED,     ATTR_LABEL_TEXT, ATTR_TEXT_COLOR,
                                     ATTR_TEXT_BOLD,  ATTR_FILL_COLOR, ATTR_ENABLED,    ATTR_INTERVAL,
                                     ATTR_ACCESSIBLE_NAME};

std::string number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// Everything the program can read of one panel, one line per read.
std::string snapshot(int panel)
{
    std::ostringstream out;
    std::string title;
    out << "title " << GetPanelAttribute(panel, ATTR_TITLE, &title) << ' ' << title << '\n';
    for (int control = 1; control <= LANGU + 1; ++control) {
        int i = 0;
        double d = 0.0;
        std::string s;
        int rc = GetCtrlVal(panel, control, &i);
        out << control << " int " << rc << ' ' << (rc ? 0 : i) << '\n';
        rc = GetCtrlVal(panel, control, &d);
        out << control << " double " << rc << ' ' << number(rc ? 0.0 : d) << '\n';
        rc = GetCtrlVal(panel, control, &s);
        out << control << " text " << rc << ' ' << (rc ? std::string() : s) << '\n';
        int dimmed = 0;
        GetCtrlAttribute(panel, control, ATTR_DIMMED, &dimmed);
        for (CtrlAttribute attribute : kAttributes) {
            // The window reads a dimmed text's colour from its palette's
            // disabled group (grey), not the colour set: left out until the
            // window reads back what was set, as the window-less panel does.
            if (attribute == ATTR_TEXT_COLOR && dimmed)
                continue;
            rc = GetCtrlAttribute(panel, control, attribute, &i);
            out << control << " attr" << attribute << " int " << rc << ' ' << (rc ? 0 : i) << '\n';
            rc = GetCtrlAttribute(panel, control, attribute, &d);
            out << control << " attr" << attribute << " double " << rc << ' ' << number(rc ? 0.0 : d) << '\n';
            rc = GetCtrlAttribute(panel, control, attribute, &s);
            out << control << " attr" << attribute << " text " << rc << ' ' << (rc ? std::string() : s) << '\n';
        }
    }
    return out.str();
}

// The first line where two snapshots differ.
QString firstDifference(const std::string &window, const std::string &windowless)
{
    std::istringstream a(window), b(windowless);
    std::string la, lb;
    while (std::getline(a, la) && std::getline(b, lb))
        if (la != lb)
            return QString("window: %1 | window-less: %2").arg(QString::fromStdString(la), QString::fromStdString(lb));
    return QString("lengths differ");
}

// One call drawn at random: what it does, as text for the failure message.
struct Call {
    std::string what;
    std::function<int(int panel)> run;
};

Call drawCall(std::mt19937 &random)
{
    const auto pick = [&random](std::size_t n) { return std::size_t(random() % n); };
    const int control = 1 + int(pick(LANGU + 1));  // 1..21: two ids no control has
    const int i = kInts[pick(std::size(kInts))];
    const double d = kDoubles[pick(std::size(kDoubles))];
    const std::string s = kTexts[pick(std::size(kTexts))];
    const CtrlAttribute attribute = kAttributes[pick(std::size(kAttributes))];
    const std::string target = std::to_string(control);
    const std::string attr = std::to_string(int(attribute));
    switch (pick(11)) {
    case 0: return {"SetCtrlVal " + target + " int " + std::to_string(i), [=](int p) { return SetCtrlVal(p, control, i); }};
    case 1: return {"SetCtrlVal " + target + " double " + number(d), [=](int p) { return SetCtrlVal(p, control, d); }};
    case 2: return {"SetCtrlVal " + target + " text " + s, [=](int p) { return SetCtrlVal(p, control, s.c_str()); }};
    case 3: return {"SetCtrlAttribute " + target + " " + attr + " int " + std::to_string(i),
                    [=](int p) { return SetCtrlAttribute(p, control, attribute, i); }};
    case 4: return {"SetCtrlAttribute " + target + " " + attr + " double " + number(d),
                    [=](int p) { return SetCtrlAttribute(p, control, attribute, d); }};
    case 5: return {"SetCtrlAttribute " + target + " " + attr + " text " + s,
                    [=](int p) { return SetCtrlAttribute(p, control, attribute, s.c_str()); }};
    case 6: return {"ResetTextBox " + target + " " + s, [=](int p) { return ResetTextBox(p, control, s.c_str()); }};
    case 7: return {"ResetTimer " + target, [=](int p) { return ResetTimer(p, control); }};
    case 8: return {"SetPanelAttribute title " + s, [=](int p) { return SetPanelAttribute(p, ATTR_TITLE, s.c_str()); }};
    case 9: return {"AnnounceText " + s, [=](int p) { return AnnounceText(p, s.c_str()); }};
    default: return {"SetActiveCtrl " + target, [=](int p) { return SetActiveCtrl(p, control); }};
    }
}

} // namespace

class HeadlessParityTest : public QObject {
    Q_OBJECT

    int window = 0;      // the panel on Qt Widgets
    int windowless = 0;  // the panel on the window-less backend

    int onWindow(const std::function<int(int)> &call)
    {
        UseQtPanel();
        return call(window);
    }

    int onWindowless(const std::function<int(int)> &call)
    {
        UseHeadlessPanel();
        return call(windowless);
    }

private slots:
    void initTestCase()
    {
        UseQtPanel();
        QVERIFY(InitRunTime(0, nullptr));
        UseHeadlessPanel();
        QVERIFY(InitRunTime(0, nullptr));  // the window's application serves it too
    }

    // A fresh pair of panels for each sequence.
    void init()
    {
        window = onWindow([](int) { return LoadPanel(0, "Quorvel.uir", PANEL); });
        QVERIFY(window > 0);
        windowless = onWindowless([](int) { return LoadPanel(0, "Quorvel.uir", PANEL); });
        QVERIFY(windowless > 0);
    }

    void cleanup()
    {
        QCOMPARE(onWindow([](int p) { return DiscardPanel(p); }), 0);
        QCOMPARE(onWindowless([](int p) { return DiscardPanel(p); }), 0);
        UseQtPanel();
    }

    void sameAtLoad()
    {
        const std::string a = [&] { UseQtPanel(); return snapshot(window); }();
        const std::string b = [&] { UseHeadlessPanel(); return snapshot(windowless); }();
        QVERIFY2(a == b, qPrintable(firstDifference(a, b)));
    }

    void sameCallsSameResults_data()
    {
        QTest::addColumn<unsigned>("seed");
        for (unsigned seed : {1u, 2u, 3u, 4u, 5u, 6u})
            QTest::newRow(qPrintable(QString("seed %1").arg(seed))) << seed;
    }

    void sameCallsSameResults()
    {
        QFETCH(unsigned, seed);
        std::mt19937 random(seed);
        for (int step = 0; step < 600; ++step) {
            const Call call = drawCall(random);
            const int a = onWindow(call.run);
            const int b = onWindowless(call.run);
            QVERIFY2(a == b, qPrintable(QString("step %1, %2: window %3, window-less %4")
                                            .arg(step).arg(QString::fromStdString(call.what)).arg(a).arg(b)));
            const std::string sa = [&] { UseQtPanel(); return snapshot(window); }();
            const std::string sb = [&] { UseHeadlessPanel(); return snapshot(windowless); }();
            QVERIFY2(sa == sb, qPrintable(QString("step %1, after %2: %3")
                                              .arg(step)
                                              .arg(QString::fromStdString(call.what), firstDifference(sa, sb))));
        }
    }
};

QTEST_MAIN(HeadlessParityTest)
#include "test_headless_parity.moc"
