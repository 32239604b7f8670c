// The window-less panel, on an event loop and clock of the test's own and
// with no Qt application object: the stored panel as the window shows it,
// values and refusals by the window's rules, the log, the operator's
// clicks, popups answered by a script (and holding what real popups hold),
// the timer ticking as the clock advances, the observer, and a runaway log
// kept bounded.
#include "panel.h"
#include "runtime.h"
#include "popups.h"
#include "ui_constants.h"
#include "delivered_events.h"

#include "callback_names.h"
#include "event_loop.h"
#include "panel_headless.h"
#include "popup_hold.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtTest>

#include <map>
#include <string>
#include <thread>
#include <vector>

using platform::PanelValue;
using platform::PopupButtons;
namespace headless = platform::headless;

namespace {

// ---------------------------------------------------------------------------
// A loop of the test's own: time stands still until the test advances it,
// and timers fire in the order their times come.

struct ManualTimer {
    double due;
    double interval;
    bool repeat;
    platform::TimerFunction fn;
    void *data;
};

double manualClock = 0.0;
std::map<int, ManualTimer> manualTimers;
int nextManualTimer = 1;
std::thread::id uiThread;

int manualStart(double seconds, bool repeat, platform::TimerFunction fn, void *data)
{
    const int id = nextManualTimer++;
    manualTimers[id] = ManualTimer{manualClock + seconds, seconds, repeat, fn, data};
    return id;
}

void manualStop(int id)
{
    manualTimers.erase(id);
}

// Moves the clock on by `seconds`, firing every timer that falls due on the way.
void advance(double seconds)
{
    const double until = manualClock + seconds;
    for (;;) {
        auto next = manualTimers.end();
        for (auto it = manualTimers.begin(); it != manualTimers.end(); ++it)
            if (it->second.due <= until + 1e-9 && (next == manualTimers.end() || it->second.due < next->second.due))
                next = it;
        if (next == manualTimers.end())
            break;
        manualClock = std::max(manualClock, next->second.due);
        const ManualTimer fired = next->second;
        if (fired.repeat)
            next->second.due += fired.interval;
        else
            manualTimers.erase(next);
        fired.fn(fired.data);
    }
    manualClock = until;
}

const platform::EventLoopBackend kManualLoop = {
    [] { return std::this_thread::get_id() == uiThread; },
    [] { return 0; },
    [](int) {},
    [] {},
    [] { return manualClock; },
    [](double seconds) { manualClock += seconds; },
    manualStart,
    manualStop,
    [] {},
    [] {},
    [](bool) {},
    nullptr, nullptr, nullptr,  // no handle to watch
};

const int kNoValue = INT_MIN;  // marks a control that holds no int

} // namespace

class HeadlessPanelTest : public QObject {
    Q_OBJECT

    int panel = 0;

private slots:
    void initTestCase()
    {
        uiThread = std::this_thread::get_id();
        platform::selectEventLoop(&kManualLoop);
        UseHeadlessPanel();
        QCOMPARE(InitRunTime(0, nullptr), 1);
        QVERIFY(!QCoreApplication::instance());  // none needed, none made
        RegisterCtrlCallback("Transfert", recordControl);
        RegisterPanelCallback("Sortir", recordPanel);
    }

    void init()
    {
        delivered.clear();
        onEvent = nullptr;
        headless::setPopupScript(nullptr);
        headless::setPanelObserver(nullptr);
        panel = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY2(panel > 0, qPrintable(QString::number(panel)));
        QCOMPARE(DisplayPanel(panel), 0);
    }

    void cleanup()
    {
        onEvent = nullptr;
        headless::setPopupScript(nullptr);
        headless::setPanelObserver(nullptr);
        QCOMPARE(DiscardPanel(panel), 0);
        QVERIFY(manualTimers.empty());  // a discarded panel leaves no timer running
    }

    void panelAsTheDefinitionStoresIt()
    {
        std::string title;
        QCOMPARE(GetPanelAttribute(panel, ATTR_TITLE, &title), 0);
        QCOMPARE(title, std::string("Quorvel"));
        const std::vector<int> ids = headless::controlIds(panel);
        QCOMPARE(int(ids.size()), 19);
        for (int id : ids) {
            QVERIFY(id >= GO && id <= LANGU);
            QCOMPARE(headless::controlId(panel, kControlNames[id]), id);
        }
        QCOMPARE(headless::controlId(panel, "NO_SUCH"), int(kPanelBadHandle));
    }

    // One row per control: what the operator sees before touching anything.
    void storedState_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("label");  // null: the control has no label
        QTest::addColumn<int>("intValue");   // kNoValue: not an int control
        QTest::addColumn<QString>("text");   // null: no text value

        const QString none;
        QTest::newRow("GO") << GO << true << "__Start" << kNoValue << none;
        QTest::newRow("STOP") << STOP << false << "__Stop" << kNoValue << none;
        QTest::newRow("TITRE_TEMPS") << TITRE_TEMPS << true << none << kNoValue << "Transfer time :";
        QTest::newRow("TEMPS") << TEMPS << true << none << kNoValue << "00:00";
        QTest::newRow("TAUX") << TAUX << true << "kb/s" << kNoValue << "0";
        QTest::newRow("TEXTBOX") << TEXTBOX << true << none << kNoValue << "";
        QTest::newRow("SLIDE") << SLIDE << true << "0 %" << 0 << "0";
        QTest::newRow("OCTET") << OCTET << true << "Mb" << kNoValue << "0";
        QTest::newRow("LED1") << LED1 << true << "Erasing Flash" << 0 << none;
        QTest::newRow("BOOT") << BOOT << true << "Not connected" << 0 << none;
        QTest::newRow("INFO") << INFO << true << none << kNoValue << "";
        QTest::newRow("PICTURE") << PICTURE << false << none << 0 << "0";
        QTest::newRow("DUREE") << DUREE << true << none << kNoValue << "Duration : about 1 min.";
        QTest::newRow("DECORATION") << DECORATION << true << none << kNoValue << none;
        QTest::newRow("LANGU") << LANGU << true << none << 0 << "0";
    }

    void storedState()
    {
        QFETCH(int, id);
        QFETCH(bool, visible);
        QFETCH(QString, label);
        QFETCH(int, intValue);
        QFETCH(QString, text);
        int shown = -1, dimmed = -1;
        QCOMPARE(GetCtrlAttribute(panel, id, ATTR_VISIBLE, &shown), 0);
        QCOMPARE(shown, int(visible));
        QCOMPARE(GetCtrlAttribute(panel, id, ATTR_DIMMED, &dimmed), 0);
        QCOMPARE(dimmed, 0);
        std::string storedLabel;
        const int labelRc = GetCtrlAttribute(panel, id, ATTR_LABEL_TEXT, &storedLabel);
        if (label.isNull()) {
            QCOMPARE(labelRc, int(kPanelBadAttribute));
        } else {
            QCOMPARE(labelRc, 0);
            QCOMPARE(QString::fromStdString(storedLabel), label);
        }
        int value = -1;
        const int intRc = GetCtrlVal(panel, id, &value);
        if (intValue != kNoValue) {
            QCOMPARE(intRc, 0);
            QCOMPARE(value, intValue);
        }
        std::string asText;
        const int textRc = GetCtrlVal(panel, id, &asText);
        if (text.isNull()) {
            QCOMPARE(textRc, int(kPanelBadAttribute));
        } else {
            QCOMPARE(textRc, 0);
            QCOMPARE(QString::fromStdString(asText), text);
        }
    }

    void updateDisplayIsOffAtLoad()
    {
        double interval = 0.0;
        int enabled = -1, colour = -1, bold = -1;
        QCOMPARE(GetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, &interval), 0);
        QCOMPARE(interval, 0.2);
        QCOMPARE(GetCtrlAttribute(panel, TIMER, ATTR_ENABLED, &enabled), 0);
        QCOMPARE(enabled, 0);
        QCOMPARE(GetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, &colour), 0);
        QCOMPARE(colour, 0x000000);
        QCOMPARE(GetCtrlAttribute(panel, TEMPS, ATTR_TEXT_BOLD, &bold), 0);
        QCOMPARE(bold, 0);
        QVERIFY(manualTimers.empty());
    }

    void valuesConvertToTheControlsKind()
    {
        int number = -1;
        double real = -1.0;
        std::string text;
        // The slide keeps within 0..100; a double is rounded for it.
        QCOMPARE(SetCtrlVal(panel, SLIDE, 150), 0);
        QCOMPARE(GetCtrlVal(panel, SLIDE, &number), 0);
        QCOMPARE(number, 100);
        QCOMPARE(SetCtrlVal(panel, SLIDE, -5), 0);
        GetCtrlVal(panel, SLIDE, &number);
        QCOMPARE(number, 0);
        QCOMPARE(SetCtrlVal(panel, SLIDE, 49.6), 0);
        GetCtrlVal(panel, SLIDE, &number);
        QCOMPARE(number, 50);
        // A numeric display takes an int as a double, shows its decimals, keeps in range.
        QCOMPARE(SetCtrlVal(panel, TAUX, 11), 0);
        QCOMPARE(GetCtrlVal(panel, TAUX, &real), 0);
        QCOMPARE(real, 11.0);
        QCOMPARE(SetCtrlVal(panel, TAUX, 10.26), 0);
        QCOMPARE(headless::shownText(panel, TAUX, &text), 0);
        QCOMPARE(text, std::string("10.3"));
        QCOMPARE(SetCtrlVal(panel, TAUX, -4.0), 0);
        GetCtrlVal(panel, TAUX, &real);
        QCOMPARE(real, 0.0);
        QCOMPARE(SetCtrlVal(panel, OCTET, 1.5), 0);
        QCOMPARE(GetCtrlVal(panel, OCTET, &text), 0);
        QCOMPARE(text, std::string("1.5"));
        // An LED's state reads as a number and is held as a flag.
        QCOMPARE(SetCtrlVal(panel, LED1, 5), 0);
        QCOMPARE(GetCtrlVal(panel, LED1, &number), 0);
        QCOMPARE(number, 1);
        PanelValue raw;
        QCOMPARE(headless::controlValue(panel, LED1, &raw), 0);
        QVERIFY(std::get<bool>(raw));
        // A number becomes a text message's text; a ring takes any int and shows its picture.
        QCOMPARE(SetCtrlVal(panel, INFO, 42), 0);
        QCOMPARE(textOf(panel, INFO), std::string("42"));
        QCOMPARE(SetCtrlVal(panel, PICTURE, 7), 0);
        QCOMPARE(headless::shownText(panel, PICTURE, &text), 0);
        QCOMPARE(text, std::string(":/pictures/frame7.svg"));
        QCOMPARE(SetCtrlVal(panel, PICTURE, 12), 0);
        QCOMPARE(headless::shownText(panel, PICTURE, &text), 0);
        QCOMPARE(text, std::string());
    }

    void attributesReadBackAsSet()
    {
        int value = -1;
        double interval = 0.0;
        std::string label;
        QCOMPARE(SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, 0xFF0000), 0);
        QCOMPARE(GetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, &value), 0);
        QCOMPARE(value, 0xFF0000);
        QCOMPARE(SetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, int(0xFF00FF00u)), 0);
        QCOMPARE(GetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, &value), 0);
        QCOMPARE(value, 0x00FF00);  // the colour alone
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.5), 0);
        QCOMPARE(GetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, &interval), 0);
        QCOMPARE(interval, 0.5);
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0), 0);  // never zero
        GetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, &interval);
        QVERIFY(interval > 0.0);
        QCOMPARE(SetCtrlAttribute(panel, GO, ATTR_LABEL_TEXT, "__Go & see"), 0);
        QCOMPARE(GetCtrlAttribute(panel, GO, ATTR_LABEL_TEXT, &label), 0);
        QCOMPARE(label, std::string("__Go & see"));  // as set, marker included
        QCOMPARE(SetCtrlAttribute(panel, STOP, ATTR_VISIBLE, 1), 0);
        QCOMPARE(GetCtrlAttribute(panel, STOP, ATTR_VISIBLE, &value), 0);
        QCOMPARE(value, 1);
        QCOMPARE(SetCtrlAttribute(panel, GO, ATTR_DIMMED, 1.0), 0);
        QCOMPARE(GetCtrlAttribute(panel, GO, ATTR_DIMMED, &value), 0);
        QCOMPARE(value, 1);
        QCOMPARE(SetPanelAttribute(panel, ATTR_TITLE, "Quorvel - COM7"), 0);
        QCOMPARE(headless::panelTitle(panel, &label), 0);
        QCOMPARE(label, std::string("Quorvel - COM7"));
    }

    void wrongRequestsAreRefused()
    {
        std::string text;
        int value = 0;
        QCOMPARE(SetCtrlAttribute(panel, TEMPS, ATTR_LABEL_TEXT, "x"), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlVal(panel, LED1, "on"), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlVal(panel, TAUX, "12"), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlVal(panel, SLIDE, 1e12), int(kPanelBadAttribute));  // no int holds it
        QCOMPARE(SetCtrlVal(panel, DECORATION, 1), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlVal(panel, GO, 1), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_VISIBLE, 1), int(kPanelBadAttribute));
        QCOMPARE(GetCtrlAttribute(panel, TIMER, ATTR_VISIBLE, &value), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, "red"), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, 255.0), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlAttribute(panel, GO, ATTR_DIMMED, "1"), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlAttribute(panel, TEXTBOX, ATTR_ENABLED, 1), int(kPanelBadAttribute));
        QCOMPARE(ResetTextBox(panel, TEMPS, ""), int(kPanelBadAttribute));
        QCOMPARE(ResetTimer(panel, GO), int(kPanelBadAttribute));
        QCOMPARE(GetCtrlVal(panel, LED1, &text), int(kPanelBadAttribute));
        QCOMPARE(GetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, &text), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlVal(panel, 99, 1), int(kPanelBadHandle));
        QCOMPARE(GetCtrlVal(panel + 100, GO, &value), int(kPanelBadHandle));
        QCOMPARE(SetPanelAttribute(panel + 100, ATTR_TITLE, "x"), int(kPanelBadHandle));
        QCOMPARE(SetActiveCtrl(panel, 99), int(kPanelBadHandle));
        // Nothing was changed by the refused calls.
        QCOMPARE(textOf(panel, TEMPS), std::string("00:00"));
        GetCtrlVal(panel, LED1, &value);
        QCOMPARE(value, 0);
        GetCtrlVal(panel, SLIDE, &value);
        QCOMPARE(value, 0);
        // Getters and popups belong to the UI thread.
        int rc = 0;
        bool clicked = true;
        PanelValue raw;
        std::thread([&] {
            rc = GetCtrlVal(panel, SLIDE, &value) + 100 * MessagePopup("t", "m")
                 + 10000 * headless::controlValue(panel, SLIDE, &raw);
            clicked = headless::clickControl(panel, GO);
        }).join();
        QCOMPARE(rc, int(kPanelWrongThread) * 10101);
        QVERIFY(!clicked);
        QVERIFY(delivered.empty());
    }

    void textBoxAppendsExactly()
    {
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "START : "), 0);
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "START OK\r\n"), 0);
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "Transferring file...\n"), 0);
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, 3), 0);
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "caf\xe9"), 0);  // a camera's 8-bit byte
        const std::string expected = "START : START OK\r\nTransferring file...\n3caf\xc3\xa9";
        QCOMPARE(textOf(panel, TEXTBOX), expected);
        std::string log;
        QCOMPARE(headless::logText(panel, TEXTBOX, &log), 0);
        QCOMPARE(log, expected);
        QCOMPARE(headless::logText(panel, TEMPS, &log), int(kPanelBadAttribute));
        QCOMPARE(ResetTextBox(panel, TEXTBOX, ""), 0);
        QCOMPARE(textOf(panel, TEXTBOX), std::string());
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "x"), 0);
        QCOMPARE(ResetTextBox(panel, TEXTBOX, "new\n"), 0);
        QCOMPARE(textOf(panel, TEXTBOX), std::string("new\n"));
    }

    // Calls from the worker land in order on the UI thread, before the UI's own.
    void workerCallsLandInOrder()
    {
        std::thread([this] {
            for (int i = 0; i < 100; ++i) {
                SetCtrlVal(panel, TEXTBOX, (std::to_string(i) + "\n").c_str());
                SetCtrlVal(panel, SLIDE, i);
            }
        }).join();
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "ui"), 0);
        std::string expected;
        for (int i = 0; i < 100; ++i)
            expected += std::to_string(i) + "\n";
        QCOMPARE(textOf(panel, TEXTBOX), expected + "ui");
        int slide = 0;
        GetCtrlVal(panel, SLIDE, &slide);
        QCOMPARE(slide, 99);
    }

    void clicksReachOnlyOperableControls()
    {
        QVERIFY(headless::clickControl(panel, GO));
        const std::vector<Delivered> pressThenCommit{{panel, GO, EVENT_LEFT_CLICK}, {panel, GO, EVENT_COMMIT}};
        QVERIFY(delivered == pressThenCommit);
        delivered.clear();
        QVERIFY(headless::clickControl(panel, LANGU));  // a ring: the press alone
        QVERIFY(headless::commitControl(panel, GO));    // a key: the commit alone
        const std::vector<Delivered> ringThenKey{{panel, LANGU, EVENT_LEFT_CLICK}, {panel, GO, EVENT_COMMIT}};
        QVERIFY(delivered == ringThenKey);
        delivered.clear();

        // Hidden at load, dimmed, an indicator, the timer, an unknown control: nothing.
        QVERIFY(!headless::clickControl(panel, STOP));
        SetCtrlAttribute(panel, GO, ATTR_DIMMED, 1);
        QVERIFY(!headless::clickControl(panel, GO));
        QVERIFY(!headless::commitControl(panel, GO));
        for (int id : {TEXTBOX, BOOT, SLIDE, TIMER, 99})
            QVERIFY(!headless::clickControl(panel, id));
        QVERIFY(delivered.empty());

        // A press whose callback dims the button commits nothing.
        SetCtrlAttribute(panel, GO, ATTR_DIMMED, 0);
        onEvent = [this](const Delivered &d) {
            if (d.event == EVENT_LEFT_CLICK)
                SetCtrlAttribute(panel, GO, ATTR_DIMMED, 1);
        };
        QVERIFY(headless::clickControl(panel, GO));
        QCOMPARE(countOf(GO, EVENT_COMMIT), 0);
    }

    void closeBoxAsksTheProgram()
    {
        QVERIFY(headless::closePanel(panel));
        const std::vector<Delivered> expected{{panel, 0, EVENT_CLOSE}};
        QVERIFY(delivered == expected);
        QVERIFY(headless::panelDisplayed(panel));  // the program decides
    }

    void unknownCallbackNameBindsNothing()
    {
        RegisterCtrlCallback("Transfert", nullptr);
        const int other = LoadPanel(0, "Quorvel.uir", PANEL);
        RegisterCtrlCallback("Transfert", recordControl);
        QVERIFY(other > 0 && other != panel);
        DisplayPanel(other);
        QVERIFY(!headless::clickControl(other, GO));
        SetCtrlAttribute(other, TIMER, ATTR_ENABLED, 1);
        advance(1.0);
        QVERIFY(delivered.empty());
        QCOMPARE(DiscardPanel(other), 0);
    }

    void popupScriptAnswers_data()
    {
        QTest::addColumn<QStringList>("buttons");  // "" = absent
        QTest::addColumn<int>("answer");           // what the script says
        QTest::addColumn<int>("chosen");
        QTest::addColumn<int>("escape");           // what the popup's Escape answers
        const QStringList okCancel{"Ok", "Cancel", ""};
        const QStringList three{"Yes", "No", "Later"};
        QTest::newRow("Ok") << okCancel << 1 << 1 << 2;
        QTest::newRow("Cancel") << okCancel << 2 << 2 << 2;
        QTest::newRow("third of three") << three << 3 << 3 << 2;
        QTest::newRow("absent button is Escape") << okCancel << 3 << 2 << 2;
        QTest::newRow("zero is Escape") << three << 0 << 2 << 2;
        QTest::newRow("one button") << QStringList{"Ok", "", ""} << 7 << 1 << 1;
        QTest::newRow("second alone") << QStringList{"", "Retry", ""} << 1 << 2 << 2;
        QTest::newRow("first and third: Escape does nothing") << QStringList{"Yes", "", "Later"} << 2 << 1 << 0;
        QTest::newRow("none given: OK") << QStringList{"", "", ""} << 1 << 1 << 1;
    }

    void popupScriptAnswers()
    {
        QFETCH(QStringList, buttons);
        QFETCH(int, answer);
        QFETCH(int, chosen);
        QFETCH(int, escape);
        const QByteArray b1 = buttons[0].toUtf8(), b2 = buttons[1].toUtf8(), b3 = buttons[2].toUtf8();
        int calls = 0;
        bool modal = false;
        PopupButtons seen;
        std::string title, message;
        headless::setPopupScript([&](const std::string &t, const std::string &m, const PopupButtons &b) {
            ++calls;
            modal = ModalPopupOpen();
            title = t;
            message = m;
            seen = b;
            return answer;
        });
        QCOMPARE(GenericMessagePopup("Please...", "Switch off the camera.\n\nRemark", b1.constData(),
                                     b2.isEmpty() ? nullptr : b2.constData(), b3.constData()),
                 chosen);
        QCOMPARE(calls, 1);
        QVERIFY(modal);
        QVERIFY(!ModalPopupOpen());
        QCOMPARE(title, std::string("Please..."));
        QCOMPARE(message, std::string("Switch off the camera.\n\nRemark"));
        QCOMPARE(seen.escapeNumber, escape);
        QStringList present = buttons;
        present.removeAll(QString());
        if (present.isEmpty())
            present << "OK";
        QCOMPARE(int(seen.captions.size()), present.size());
        for (int i = 0; i < present.size(); ++i)
            QCOMPARE(QString::fromStdString(seen.captions[std::size_t(i)]), present[i]);
        // With no script, the popup answers as Escape, or by its first button.
        headless::setPopupScript(nullptr);
        const int unanswered = GenericMessagePopup("t", "m", b1.constData(), b2.constData(), b3.constData());
        QCOMPARE(unanswered, escape > 0 ? escape : seen.numbers.front());
        QCOMPARE(MessagePopup("Error!", "Can't find 'vers.kq' file!"), 1);
    }

    // As the Start button does: its commit opens a popup; ticks that fall
    // while it is open are dropped, and what the line would deliver is held.
    void popupHoldsTheTimerAndTheLine()
    {
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.01), 0);
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1), 0);
        advance(0.015);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 1);

        int answer = 0, ticksInside = -1;
        bool held = false, inputTaken = true;
        std::vector<std::string> order;
        headless::setPopupScript([&](const std::string &, const std::string &, const PopupButtons &) {
            // The line's delivery waits behind the popup, as with a real one.
            held = platform::holdUntilPopupsClose([&] { order.push_back("line"); });
            const int before = countOf(TIMER, EVENT_TIMER_TICK);
            advance(0.15);  // open for fifteen intervals
            ticksInside = countOf(TIMER, EVENT_TIMER_TICK) - before;
            // The panel takes no input meanwhile.
            inputTaken = headless::clickControl(panel, GO) || headless::closePanel(panel);
            order.push_back("answered");
            return 2;
        });
        onEvent = [&](const Delivered &d) {
            if (d.control == GO && d.event == EVENT_COMMIT)
                answer = GenericMessagePopup("Please...", "Power on the camera", "Ok", "Cancel", nullptr);
        };
        QVERIFY(headless::commitControl(panel, GO));
        QCOMPARE(answer, 2);
        QCOMPARE(ticksInside, 0);
        QVERIFY(held);
        QVERIFY(!inputTaken);
        QCOMPARE(order, (std::vector<std::string>{"answered", "line"}));
        const int after = countOf(TIMER, EVENT_TIMER_TICK);
        advance(0.05);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), after + 5);  // and ticks again after
    }

    void timerTicksAsTheClockAdvances()
    {
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.2), 0);
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1), 0);
        advance(0.19);
        QVERIFY(delivered.empty());
        advance(0.02);
        const std::vector<Delivered> one{{panel, TIMER, EVENT_TIMER_TICK}};
        QVERIFY(delivered == one);
        advance(1.0);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 6);
        // Enabling it again keeps the count; ResetTimer starts the interval again.
        advance(0.15);
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1), 0);
        advance(0.06);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 7);
        advance(0.15);
        QCOMPARE(ResetTimer(0, 0), 0);
        advance(0.15);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 7);
        advance(0.06);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 8);
        // A new interval counts from now.
        advance(0.1);
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.5), 0);
        advance(0.45);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 8);
        advance(0.06);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 9);
        // Dimmed, its ticks are dropped; disabled, it stops.
        SetCtrlAttribute(panel, TIMER, ATTR_DIMMED, 1);
        advance(2.0);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 9);
        SetCtrlAttribute(panel, TIMER, ATTR_DIMMED, 0);
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 0), 0);
        QVERIFY(manualTimers.empty());
        advance(10.0);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 9);
    }

    // The loader stops its timer and discards the panel from a tick.
    void panelDiscardedFromItsOwnTick()
    {
        const int other = LoadPanel(0, "Quorvel.uir", PANEL);
        SetCtrlAttribute(other, TIMER, ATTR_INTERVAL, 0.1);
        SetCtrlAttribute(other, TIMER, ATTR_ENABLED, 1);
        SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.1);
        SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1);
        onEvent = [other](const Delivered &d) {
            if (d.panel == other)
                QCOMPARE(DiscardPanel(other), 0);
        };
        advance(0.35);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 4);  // one from the other, three from ours
        QCOMPARE(SetCtrlVal(other, LED1, 1), int(kPanelBadHandle));
        SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 0);
    }

    void observerFollowsEveryChange()
    {
        struct Seen {
            int control;
            headless::PanelChangeKind kind;
            int attribute;
            std::string value;
        };
        std::vector<Seen> seen;
        headless::setPanelObserver([&](const headless::PanelChange &change) {
            QCOMPARE(change.panel, panel);
            PanelValue text;
            std::string shown = platform::convertForKind(change.value, platform::ValueKind::Text, &text)
                                    ? std::get<std::string>(text)
                                    : (std::get<bool>(change.value) ? "true" : "false");
            seen.push_back({change.control, change.kind, change.attribute, shown});
        });
        using K = headless::PanelChangeKind;
        SetCtrlVal(panel, TEXTBOX, "START OK\r\n");
        SetCtrlVal(panel, SLIDE, 140);
        SetCtrlVal(panel, LED1, 1);
        SetCtrlAttribute(panel, BOOT, ATTR_LABEL_TEXT, "Connected COM7 used");
        ResetTextBox(panel, TEXTBOX, "");
        SetPanelAttribute(panel, ATTR_TITLE, "T");
        SetCtrlVal(panel, LED2, "refused");  // no change, nothing seen
        const std::vector<Seen> expected{
            {TEXTBOX, K::LogAppended, ATTR_VISIBLE, "START OK\r\n"},
            {SLIDE, K::Value, ATTR_VISIBLE, "100"},  // the value as kept
            {LED1, K::Value, ATTR_VISIBLE, "true"},
            {BOOT, K::Attribute, ATTR_LABEL_TEXT, "Connected COM7 used"},
            {TEXTBOX, K::LogReplaced, ATTR_VISIBLE, ""},
            {0, K::Title, ATTR_VISIBLE, "T"},
        };
        QCOMPARE(seen.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            QCOMPARE(seen[i].control, expected[i].control);
            QVERIFY(seen[i].kind == expected[i].kind);
            if (seen[i].kind == K::Attribute)
                QCOMPARE(seen[i].attribute, expected[i].attribute);
            QCOMPARE(seen[i].value, expected[i].value);
        }
    }

    void definitionsThatCannotBeLoaded_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("panelId");
        QTest::addColumn<int>("result");
        QTest::newRow("no such definition") << "Missing.uir" << 1 << int(kPanelNotFound);
        QTest::newRow("path outside") << "../Quorvel.uir" << 1 << int(kPanelNotFound);
        QTest::newRow("empty name") << "" << 1 << int(kPanelNotFound);
        QTest::newRow("no such panel") << "Quorvel.uir" << 2 << int(kPanelNoSuchPanel);
        QTest::newRow("cut short") << "Broken.uir" << 1 << int(kPanelUnreadable);
        QTest::newRow("two controls, one id") << "DuplicateIds.uir" << 1 << int(kPanelUnreadable);
        QTest::newRow("picture missing") << "MissingPicture.uir" << 1 << int(kPanelUnreadable);
    }

    void definitionsThatCannotBeLoaded()
    {
        QFETCH(QString, name);
        QFETCH(int, panelId);
        QFETCH(int, result);
        const std::size_t before = headless::panels().size();
        for (int attempt = 0; attempt < 2; ++attempt)  // read, then from what was read
            QCOMPARE(LoadPanel(0, name.toUtf8().constData(), panelId), result);
        QCOMPARE(headless::panels().size(), before);  // nothing left behind
    }

    void discardedPanelIsGone()
    {
        const int second = LoadPanel(0, "Quorvel.uir", PANEL);
        const int child = LoadPanel(second, "Quorvel.uir", PANEL);
        QVERIFY(second > 0 && child > 0 && second != panel);
        QCOMPARE(LoadPanel(second + 100, "Quorvel.uir", PANEL), int(kPanelBadHandle));
        QCOMPARE(DiscardPanel(second), 0);
        QCOMPARE(DiscardPanel(second), int(kPanelBadHandle));
        QCOMPARE(DiscardPanel(child), int(kPanelBadHandle));  // it lay inside
        QCOMPARE(SetCtrlVal(second, LED1, 1), int(kPanelBadHandle));
        QCOMPARE(DisplayPanel(second), int(kPanelBadHandle));
        QCOMPARE(headless::panels(), std::vector<int>{panel});
    }

    // A camera babbling for hours: the log keeps its most recent whole lines
    // within 256 KiB, and each append costs what it appends.
    void runawayLogStaysBounded()
    {
        const std::string line = "ERROR: checksum mismatch in block 0123456789\r\n";  // 46 bytes
        QElapsedTimer clock;
        clock.start();
        const int lines = 200000;  // 9 MB
        for (int i = 0; i < lines; ++i)
            QCOMPARE(SetCtrlVal(panel, TEXTBOX, line.c_str()), 0);
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "last"), 0);
        std::string log;
        QCOMPARE(headless::logText(panel, TEXTBOX, &log), 0);
        QVERIFY(log.size() <= 256 * 1024);
        QVERIFY(log.size() > 256 * 1024 - line.size() - 4);
        QVERIFY(log.rfind("last") == log.size() - 4);
        QCOMPARE(log.compare(0, line.size(), line), 0);  // starts with a whole line
        QCOMPARE((log.size() - 4) % line.size(), std::size_t(0));
        // Quadratic copying would take minutes here; linear takes milliseconds.
        QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));

        // One line longer than the bound keeps its end, whole characters only.
        std::string huge(300 * 1024, 'a');
        huge += "\xc3\xa9 end";
        QCOMPARE(ResetTextBox(panel, TEXTBOX, ("x\n" + huge).c_str()), 0);
        QCOMPARE(headless::logText(panel, TEXTBOX, &log), 0);
        QCOMPARE(log.size(), std::size_t(256 * 1024));
        QCOMPARE(log.substr(log.size() - 6), std::string("\xc3\xa9 end"));
        QCOMPARE(log.find('x'), std::string::npos);
    }

    // The fuzzer loads a panel for every input and updates it thousands of
    // times a second: a load is a copy of the definition read once.
    void loadsAndUpdatesAreCheap()
    {
        QElapsedTimer clock;
        clock.start();
        const int loads = 2000;
        for (int i = 0; i < loads; ++i) {
            const int other = LoadPanel(0, "Quorvel.uir", PANEL);
            QVERIFY(other > 0);
            SetCtrlVal(other, TEXTBOX, "START OK\r\n");
            SetCtrlVal(other, SLIDE, i % 101);
            SetCtrlAttribute(other, BOOT, ATTR_LABEL_TEXT, "Connected COM7 used");
            QCOMPARE(DiscardPanel(other), 0);
        }
        const double seconds = std::max(1e-6, clock.nsecsElapsed() / 1e9);
        qInfo("%.0f loads a second, with three updates each", loads / seconds);
        QVERIFY2(loads / seconds > 1000, qPrintable(QString::number(loads / seconds)));
    }

    // Last, as it leaves the plain loop in place: the command-line updater's
    // run, no application object, and the timer ticking in real time.
    void onThePlainLoop()
    {
        platform::selectEventLoop(nullptr);
        QVERIFY(&platform::eventLoop() == &platform::kPlainEventLoop);
        QCOMPARE(InitRunTime(0, nullptr), 1);
        QVERIFY(!QCoreApplication::instance());
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.02), 0);
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1), 0);
        onEvent = [this](const Delivered &d) {
            if (d.event == EVENT_TIMER_TICK && countOf(TIMER, EVENT_TIMER_TICK) == 5) {
                SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 0);
                QuitUserInterface(9);
            }
        };
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(RunUserInterface(), 9);
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 5);
        QVERIFY2(clock.elapsed() >= 90, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_APPLESS_MAIN(HeadlessPanelTest)
#include "test_headless_panel.moc"
