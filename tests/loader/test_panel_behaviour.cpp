// What the operator sees without a camera: the language toggle on the real
// panel, and the progress tick's arithmetic driven tick by tick. Built twice:
// on the window (a real click on the flag) and on the window-less panel
// (QUORVEL_WINDOWLESS_PANEL, the click delivered by the panel), so the
// loader reads and writes both alike.
#include "control.h"
#include "loader_state.h"
#include "messages.h"
#include "platform.h"
#include "progress.h"
#include "startup.h"
#include "ui_constants.h"

#ifdef QUORVEL_WINDOWLESS_PANEL
#include "panel_headless.h"
#endif

#include <QWidget>
#include <QtTest>

namespace {

QString text(int panel, int control)
{
    std::string value;
    GetCtrlVal(panel, control, &value);
    return QString::fromStdString(value);
}

QString label(int panel, int control)
{
    std::string value;
    GetCtrlAttribute(panel, control, ATTR_LABEL_TEXT, &value);
    return QString::fromStdString(value);
}

int intValue(int panel, int control)
{
    int value = -1;
    GetCtrlVal(panel, control, &value);
    return value;
}

double doubleValue(int panel, int control)
{
    double value = -1;
    GetCtrlVal(panel, control, &value);
    return value;
}

#ifdef QUORVEL_WINDOWLESS_PANEL

void choosePanel()
{
    UseHeadlessPanel();
}

bool panelShown(int panel)
{
    return platform::headless::panelDisplayed(panel);
}

// The operator's left click on the flag, as the panel delivers it.
bool clickFlag(int panel)
{
    return platform::headless::clickControl(panel, LANGU);
}

#else

void choosePanel() {}  // the window, chosen before main

QWidget *window()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->findChild<QWidget *>("LANGU"))
            return w;
    return nullptr;
}

bool panelShown(int)
{
    return QTest::qWaitForWindowExposed(window());
}

// A real left click on the flag.
bool clickFlag(int)
{
    QWidget *flag = window() ? window()->findChild<QWidget *>("LANGU") : nullptr;
    if (!flag)
        return false;
    QTest::mouseClick(flag, Qt::LeftButton, {}, flag->rect().center());
    return true;
}

#endif

} // namespace

class PanelBehaviourTest : public QObject {
    Q_OBJECT
    int panel = 0;

    void clickFlag() { QVERIFY(::clickFlag(panel)); }

    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            Transfert(panel, TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    }

    void startUpdateCounters()
    {
        loader.tickCount = loader.elapsedSeconds = 0;
        loader.bytesSent = 0;
        loader.lastBytesSent = 0;
        loader.reportedStep = loader.displayedStep = 0;
        loader.ticksPerSecond = 5;
        ResetTextBox(panel, TEXTBOX, "");
        SetCtrlVal(panel, LED1, 0);
        SetCtrlVal(panel, LED2, 0);
        SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1);
    }

private slots:
    void initTestCase()
    {
        choosePanel();
        QVERIFY(InitRunTime(0, nullptr));
        RegisterCtrlCallback("Transfert", Transfert);
        RegisterPanelCallback("Sortir", Sortir);
        panel = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY(panel > 0);
        loader.panel = panel;
        SetCtrlVal(panel, LANGU, loader.language);
        DisplayPanel(panel);
        QVERIFY(panelShown(panel));
    }

    // The panel goes with its timer, which the last test leaves running.
    void cleanupTestCase() { QCOMPARE(DiscardPanel(panel), 0); }

    void ticksPerSecondFromInterval_data()
    {
        QTest::addColumn<double>("interval");
        QTest::addColumn<int>("ticks");
        QTest::newRow("0.2 s") << 0.2 << 5;
        QTest::newRow("0.3 s") << 0.3 << 3;
        QTest::newRow("1 s") << 1.0 << 1;
        QTest::newRow("3 s never gives 0") << 3.0 << 1;
    }
    void ticksPerSecondFromInterval()
    {
        QFETCH(double, interval);
        QFETCH(int, ticks);
        QCOMPARE(TicksParSeconde(interval), ticks);
    }
    void panelTimerGivesFive()
    {
        double interval = 0;
        GetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, &interval);
        QCOMPARE(TicksParSeconde(interval), 5);
    }

    // Stored texts first; catalogue texts after one toggle (French) and after
    // a second one (the catalogue's English, not the stored texts). The log,
    // INFO and the LANGU = language invariant are checked on the way.
    void languageToggle()
    {
        SetCtrlVal(panel, TEXTBOX, "a line in English\n");
        SetCtrlVal(panel, INFO, "Updating with RZ4417 v01.50 : 1.000 Mb ...");
        struct Row { int control; bool isLabel; const char *stored, *english, *french; };
        const Row rows[] = {
            {GO, true, "__Start", "Start", "Démarrer"},
            {STOP, true, "__Stop", "Stop", "Stop"},
            {TITRE_TEMPS, false, "Transfer time :", "Transfer time:", "Temps de transfert:"},
            {TITRE_TAUX, false, "Transfer rate :", "Transfert rate:", "Taux de transfert:"},
            {DUREE, false, "Duration : about 1 min.", "Duration: about 1 minute", "Durée: environ 1 minute"},
            {LED1, true, "Erasing Flash", "Erasing FLASH", "Effacement de la FLASH"},
            {LED2, true, "Programming Flash", "Programming FLASH", "Programmation de la FLASH"},
            {BOOT, true, "Not connected", "Not connected", "Non connecté"},
            {OCTET, true, "Mb", "Mb", "Mo"},
            {TAUX, true, "kb/s", "kb/s", "ko/s"},
        };
        auto shown = [&](const Row &r) { return r.isLabel ? label(panel, r.control) : text(panel, r.control); };

        QCOMPARE(loader.language, 0);
        QCOMPARE(intValue(panel, LANGU), 0);  // the French flag: what a click switches to
        for (const Row &r : rows)
            QCOMPARE(shown(r), QString::fromUtf8(r.stored));

        clickFlag();
        QCOMPARE(loader.language, 1);
        QCOMPARE(intValue(panel, LANGU), 1);
        for (const Row &r : rows)
            QCOMPARE(shown(r), QString::fromUtf8(r.french));

        clickFlag();
        QCOMPARE(loader.language, 0);
        QCOMPARE(intValue(panel, LANGU), 0);
        for (const Row &r : rows)
            QCOMPARE(shown(r), QString::fromUtf8(r.english));

        QCOMPARE(text(panel, TEXTBOX), QString("a line in English\n"));
        QCOMPARE(text(panel, INFO), QString("Updating with RZ4417 v01.50 : 1.000 Mb ..."));
    }

    void commitOnFlagAndClickOnButtonsDoNothing()
    {
        const int before = loader.language;
        Transfert(panel, LANGU, EVENT_COMMIT, nullptr, 0, 0);
        Transfert(panel, GO, EVENT_LEFT_CLICK, nullptr, 0, 0);
        Transfert(panel, STOP, EVENT_LEFT_CLICK, nullptr, 0, 0);
        QCOMPARE(loader.language, before);
        int visible = 0;
        GetCtrlAttribute(panel, GO, ATTR_VISIBLE, &visible);
        QCOMPARE(visible, 1);
    }

    void secondsAndAnimation()
    {
        startUpdateCounters();
        tick();
        QCOMPARE(intValue(panel, PICTURE), 1);
        tick(3);
        QCOMPARE(text(panel, TEMPS), QString("00:00"));  // untouched before the first mark
        tick();
        QCOMPARE(text(panel, TEMPS), QString("00:01"));
        tick(4);
        QCOMPARE(intValue(panel, PICTURE), 0);  // ninth tick
        tick(5 * 59 - 9);
        QCOMPARE(text(panel, TEMPS), QString("00:59"));
        tick(5);
        QCOMPARE(text(panel, TEMPS), QString("01:00"));
        loader.elapsedSeconds = 75 * 60 + 2;
        loader.tickCount = 4;
        tick();
        QCOMPARE(text(panel, TEMPS), QString("75:03"));  // minutes do not wrap at 60
    }

    void rateAndMegabytes()
    {
        startUpdateCounters();
        loader.bytesSent = 5120;
        tick(5);
        QCOMPARE(doubleValue(panel, TAUX), 5.0);
        tick(5);
        QCOMPARE(doubleValue(panel, TAUX), 0.0);  // nothing sent while the camera erases
        loader.bytesSent = 1572864;
        tick(5);
        QCOMPARE(doubleValue(panel, OCTET), 1.5);
    }

    void stepsOneAtATime()
    {
        startUpdateCounters();
        loader.reportedStep = 1;
        tick(5);
        QCOMPARE(intValue(panel, LED1), 1);
        tick(10);  // the same step over many marks is shown once
        QCOMPARE(text(panel, TEXTBOX), QString("Erasing FLASH...\n"));
        loader.reportedStep = 2;
        tick(5);
        QCOMPARE(intValue(panel, LED1), 0);
        QCOMPARE(intValue(panel, LED2), 1);
        loader.reportedStep = 3;
        tick(5);
        QCOMPARE(intValue(panel, LED2), 0);
        QCOMPARE(text(panel, TEXTBOX), QString("Erasing FLASH...\nProgramming FLASH...\nOperation successful!\n"));
        int enabled = 1;
        GetCtrlAttribute(panel, TIMER, ATTR_ENABLED, &enabled);
        QCOMPARE(enabled, 0);
        int goVisible = 0;
        GetCtrlAttribute(panel, GO, ATTR_VISIBLE, &goVisible);
        QCOMPARE(goVisible, 1);
    }

    // Two steps within one second: only the latest acts.
    void skippedSteps_data()
    {
        QTest::addColumn<int>("shownFirst");
        QTest::addColumn<QString>("log");
        QTest::addColumn<int>("led1");
        QTest::newRow("1 shown, then 2 and 3") << 1 << "Erasing FLASH...\nOperation successful!\n" << 1;
        QTest::newRow("1, 2 and 3 in one second") << 0 << "Operation successful!\n" << 0;
    }
    void skippedSteps()
    {
        QFETCH(int, shownFirst);
        QFETCH(QString, log);
        QFETCH(int, led1);
        startUpdateCounters();
        if (shownFirst) {
            loader.reportedStep = 1;
            tick(5);
        }
        // Step 2 is reported two ticks into a second and step 3 before its
        // mark: the tick looks at the step on marks only, so 2 is skipped.
        loader.reportedStep = 2;
        tick(2);
        QCOMPARE(intValue(panel, LED2), 0);
        loader.reportedStep = 3;
        tick(3);
        QCOMPARE(text(panel, TEXTBOX), log);
        QCOMPARE(intValue(panel, LED1), led1);
        QCOMPARE(intValue(panel, LED2), 0);
    }

    void stepOutsideRangeShowsNothing()
    {
        startUpdateCounters();
        loader.reportedStep = 7;
        tick(5);
        QCOMPARE(loader.displayedStep, 7);
        QCOMPARE(text(panel, TEXTBOX), QString());
    }
};

#ifdef QUORVEL_WINDOWLESS_PANEL
QTEST_GUILESS_MAIN(PanelBehaviourTest)
#else
QTEST_MAIN(PanelBehaviourTest)
#endif
#include "test_panel_behaviour.moc"
