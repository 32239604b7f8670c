// What reaches the program from the panel: clicks, keys, the close box and
// timer ticks, and what does not (dimmed or hidden controls, repaints,
// popups in the way); the event loop; panel calls made from the worker
// thread; and the popups answered by real key presses.
#include "platform.h"
#include "popups.h"
#include "panel_fixture.h"
#include "popup_helper.h"
#include "ui_constants.h"
#include "delivered_events.h"

#include "widgets/picture_ring.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPointer>
#include <QtTest>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Counts the paints a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

class PanelEventsTest : public QObject {
    Q_OBJECT

    int panel = 0;

    QWidget *control(int id) { return controlWidget(panel, id); }

private slots:
    // main() let the run-time make the application from arguments it has
    // since thrown away; the application has the program's name alone.
    void runTimeMadeTheApplication()
    {
        QVERIFY(qobject_cast<QApplication *>(QCoreApplication::instance()));
        QCOMPARE(QCoreApplication::arguments(), QStringList{"Quorvel"});
        QCoreApplication *app = QCoreApplication::instance();
        QCOMPARE(InitRunTime(0, nullptr), 1);
        QCOMPARE(QCoreApplication::instance(), app);
    }

    void initTestCase()
    {
        RegisterCtrlCallback("Transfert", recordControl);
        RegisterPanelCallback("Sortir", recordPanel);
    }

    void init()
    {
        delivered.clear();
        onEvent = nullptr;
        panel = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY(panel > 0);
        QCOMPARE(DisplayPanel(panel), 0);
        QVERIFY(QTest::qWaitForWindowExposed(panelWindow(panel)));
    }

    void cleanup()
    {
        onEvent = nullptr;
        SetWaitCursor(0);
        QCOMPARE(DiscardPanel(panel), 0);
    }

    void clickOnStartPressesThenCommits()
    {
        QTest::mouseClick(control(GO), Qt::LeftButton);
        const std::vector<Delivered> expected{{panel, GO, EVENT_LEFT_CLICK}, {panel, GO, EVENT_COMMIT}};
        QVERIFY(delivered == expected);
    }

    void keysOnTheFocusedButtonCommit()
    {
        QCOMPARE(SetActiveCtrl(panel, GO), 0);
        QCOMPARE(panelWindow(panel)->focusWidget(), control(GO));
        QTest::keyClick(control(GO), Qt::Key_Space);
        QTest::keyClick(control(GO), Qt::Key_Return);
        QTest::keyClick(control(GO), Qt::Key_Enter);
        QCOMPARE(countOf(GO, EVENT_COMMIT), 3);
        QCOMPARE(countOf(GO, EVENT_LEFT_CLICK), 0);
    }

    void accessLetterCommits()
    {
        panelWindow(panel)->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(panelWindow(panel)));
        QTest::keyClick(panelWindow(panel), Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(countOf(GO, EVENT_COMMIT), 1);  // the button shows itself pressed first
    }

    // The language ring only reports the press; its flag is the program's to change.
    void leftClickOnLanguageRing()
    {
        QTest::mouseClick(control(LANGU), Qt::LeftButton);
        const std::vector<Delivered> expected{{panel, LANGU, EVENT_LEFT_CLICK}};
        QVERIFY(delivered == expected);
        int value = -1;
        GetCtrlVal(panel, LANGU, &value);
        QCOMPARE(value, 0);
        QCOMPARE(qobject_cast<platform::PictureRing *>(control(LANGU))->currentPicture(),
                 QString(":/pictures/flag_fr.svg"));
    }

    void dimmedOrHiddenControlsDeliverNothing()
    {
        QCOMPARE(SetCtrlAttribute(panel, LANGU, ATTR_DIMMED, 1), 0);
        QTest::mouseClick(control(LANGU), Qt::LeftButton);
        QCOMPARE(SetCtrlAttribute(panel, GO, ATTR_DIMMED, 1), 0);
        QTest::mouseClick(control(GO), Qt::LeftButton);
        qobject_cast<QAbstractButton *>(control(GO))->click();
        // STOP is hidden at load: even a press made by code is not reported.
        qobject_cast<QAbstractButton *>(control(STOP))->click();
        QVERIFY(delivered.empty());

        QCOMPARE(SetCtrlAttribute(panel, LANGU, ATTR_DIMMED, 0), 0);
        QTest::mouseClick(control(LANGU), Qt::LeftButton);
        QCOMPARE(countOf(LANGU, EVENT_LEFT_CLICK), 1);
    }

    void indicatorsHaveNoCallback()
    {
        for (int id : {TEXTBOX, BOOT, SLIDE, TEMPS})
            QTest::mouseClick(control(id), Qt::LeftButton);
        QVERIFY(delivered.empty());
    }

    void unknownCallbackNameBindsNothing()
    {
        RegisterCtrlCallback("Transfert", nullptr);
        const int other = LoadPanel(0, "Quorvel.uir", PANEL);
        RegisterCtrlCallback("Transfert", recordControl);
        QVERIFY(other > 0);
        DisplayPanel(other);
        QTest::mouseClick(controlWidget(other, GO), Qt::LeftButton);
        QTest::mouseClick(controlWidget(other, LANGU), Qt::LeftButton);
        QVERIFY(delivered.empty());
        QCOMPARE(DiscardPanel(other), 0);
    }

    // The close box asks; the program answers by ending the event loop.
    void closeBoxAsksTheProgram()
    {
        QWidget *window = panelWindow(panel);
        QVERIFY(!window->close());
        const std::vector<Delivered> expected{{panel, 0, EVENT_CLOSE}};
        QVERIFY(delivered == expected);
        QVERIFY(window->isVisible());

        onEvent = [](const Delivered &d) {
            if (d.event == EVENT_CLOSE)
                QuitUserInterface(0);
        };
        QTimer::singleShot(0, window, [window] { window->close(); });
        QCOMPARE(RunUserInterface(), 0);
        QCOMPARE(countOf(0, EVENT_CLOSE), 2);
        QVERIFY(window->isVisible());
    }

    void runUntilQuitReturnsItsCode()
    {
        QTimer::singleShot(0, [] { QuitUserInterface(7); });
        QCOMPARE(RunUserInterface(), 7);
        // Asked before the loop runs, the loop returns at once.
        QuitUserInterface(4);
        QCOMPARE(RunUserInterface(), 4);
    }

    void quitFromTheWorkerThread()
    {
        QTimer::singleShot(0, [] { std::thread([] { QuitUserInterface(3); }).join(); });
        QCOMPARE(RunUserInterface(), 3);
    }

    void timerTicksWithItsId()
    {
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.01), 0);
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1), 0);
        QTRY_VERIFY_WITH_TIMEOUT(countOf(TIMER, EVENT_TIMER_TICK) >= 3, 5000);
        for (const Delivered &d : delivered)
            QVERIFY((d == Delivered{panel, TIMER, EVENT_TIMER_TICK}));

        // Disabled, it is silent while a reference timer runs twenty of its intervals.
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 0), 0);
        const int ticks = int(delivered.size());
        bool referenceDone = false;
        QTimer::singleShot(200, [&referenceDone] { referenceDone = true; });
        QTRY_VERIFY(referenceDone);
        QCOMPARE(int(delivered.size()), ticks);
    }

    void resetTimerStartsTheIntervalAgain()
    {
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.3), 0);
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1), 0);
        QTRY_VERIFY_WITH_TIMEOUT(countOf(TIMER, EVENT_TIMER_TICK) == 1, 5000);
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY(clock.elapsed() >= 200);  // two thirds into the interval
        QCOMPARE(countOf(TIMER, EVENT_TIMER_TICK), 1);
        QCOMPARE(ResetTimer(0, 0), 0);
        clock.restart();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(TIMER, EVENT_TIMER_TICK) == 2, 5000);
        QVERIFY2(clock.elapsed() >= 250, qPrintable(QString::number(clock.elapsed())));
    }

    // Repainting must not re-enter the program: no click or tick waiting in
    // the queue is delivered by it, yet the panel is painted.
    void processDrawEventsRunsNoCallback()
    {
        QWidget *go = control(GO);
        const QPointF centre = QRectF(go->rect()).center();
        QCoreApplication::postEvent(go, new QMouseEvent(QEvent::MouseButtonPress, centre,
                                                        go->mapToGlobal(centre), Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(go, new QMouseEvent(QEvent::MouseButtonRelease, centre,
                                                        go->mapToGlobal(centre), Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
        SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.001);
        SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1);
        QElapsedTimer overdue;
        overdue.start();
        while (overdue.elapsed() < 20) {
            // let the 1 ms timer fall due without running the event loop
        }

        PaintCounter counter;
        control(SLIDE)->installEventFilter(&counter);
        SetCtrlVal(panel, SLIDE, 60);
        ProcessDrawEvents();
        control(SLIDE)->removeEventFilter(&counter);
        QVERIFY(delivered.empty());
        QVERIFY(counter.paints >= 1);

        // The click and the ticks were real: the event loop delivers them.
        QTRY_COMPARE(countOf(GO, EVENT_COMMIT), 1);
        QTRY_VERIFY(countOf(TIMER, EVENT_TIMER_TICK) >= 1);
    }

    // The worker's calls wait for the UI thread and keep their order; the
    // worker never waits for the UI thread (which here is blocked in join).
    void workerCallsLandInOrderOnTheUiThread()
    {
        std::string expected;
        for (int i = 0; i < 300; ++i)
            expected += "block " + std::to_string(i) + "\n";
        int failures = 0;
        int refusedGetter = 0, refusedLoad = 0;
        std::thread worker([&] {
            for (int i = 0; i < 300; ++i) {
                const std::string line = "block " + std::to_string(i) + "\n";
                failures += SetCtrlVal(panel, TEXTBOX, line.c_str()) != 0;
                failures += SetCtrlVal(panel, SLIDE, i % 101) != 0;
            }
            failures += SetCtrlAttribute(panel, SLIDE, ATTR_LABEL_TEXT, "99 %") != 0;
            failures += SetCtrlVal(panel, OCTET, 1.25) != 0;
            failures += SetCtrlAttribute(panel, LANGU, ATTR_DIMMED, 1) != 0;
            int value = 0;
            refusedGetter = GetCtrlVal(panel, SLIDE, &value);
            refusedLoad = LoadPanel(0, "Quorvel.uir", PANEL);
        });
        worker.join();
        QCOMPARE(failures, 0);
        QCOMPARE(refusedGetter, int(kPanelWrongThread));
        QCOMPARE(refusedLoad, int(kPanelWrongThread));
        // Nothing applied yet: the UI thread has not run.
        QCOMPARE(textOf(panel, TEXTBOX), std::string());
        QVERIFY(control(LANGU)->isEnabled());

        QTRY_COMPARE(textOf(panel, TEXTBOX), expected);
        int slide = -1;
        GetCtrlVal(panel, SLIDE, &slide);
        QCOMPARE(slide, 299 % 101);
        std::string label;
        GetCtrlAttribute(panel, SLIDE, ATTR_LABEL_TEXT, &label);
        QCOMPARE(label, std::string("99 %"));
        double megabytes = 0.0;
        GetCtrlVal(panel, OCTET, &megabytes);
        QCOMPARE(megabytes, 1.25);
        QVERIFY(!control(LANGU)->isEnabled());
    }

    // A call made on the UI thread comes after the worker's earlier ones.
    void uiCallAfterWorkerCallsKeepsTheOrder()
    {
        std::thread([this] { SetCtrlVal(panel, TEXTBOX, "worker "); }).join();
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "ui"), 0);
        QCOMPARE(textOf(panel, TEXTBOX), std::string("worker ui"));
    }

    void waitCursorIsNotNested()
    {
        SetWaitCursor(1);
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        SetWaitCursor(1);
        SetWaitCursor(0);
        QVERIFY(!QApplication::overrideCursor());
        SetWaitCursor(0);
        QVERIFY(!QApplication::overrideCursor());
    }

    void popupButtons_data()
    {
        QTest::addColumn<QStringList>("buttons");  // "" = absent
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("chosen");
        const QStringList okCancel{"Ok", "Cancel", ""};
        const QStringList three{"Yes", "No", "Later"};
        QTest::newRow("Enter chooses Ok") << okCancel << int(Qt::Key_Return) << 1;
        QTest::newRow("keypad Enter chooses Ok") << okCancel << int(Qt::Key_Enter) << 1;
        QTest::newRow("Escape chooses Cancel") << okCancel << int(Qt::Key_Escape) << 2;
        QTest::newRow("three buttons, Enter") << three << int(Qt::Key_Return) << 1;
        QTest::newRow("three buttons, Escape") << three << int(Qt::Key_Escape) << 2;
        QTest::newRow("one button, Escape") << QStringList{"Ok", "", ""} << int(Qt::Key_Escape) << 1;
        QTest::newRow("Space on the focused first") << okCancel << int(Qt::Key_Space) << 1;
    }

    void popupButtons()
    {
        QFETCH(QStringList, buttons);
        QFETCH(int, key);
        QFETCH(int, chosen);
        const QByteArray b1 = buttons[0].toUtf8(), b2 = buttons[1].toUtf8(), b3 = buttons[2].toUtf8();
        auto seen = answerNextPopup(Qt::Key(key));
        const int result = GenericMessagePopup("Please...", "   1. Switch off the camera.\n\nRemark",
                                               b1.constData(), b2.isEmpty() ? nullptr : b2.constData(),
                                               b3.constData());
        QVERIFY(seen->answered);
        QCOMPARE(result, chosen);
        QCOMPARE(seen->title, QString("Please..."));
        QCOMPARE(seen->text, QString("   1. Switch off the camera.\n\nRemark"));
        QStringList present = buttons;
        present.removeAll(QString());
        QCOMPARE(seen->buttons, present);  // left to right in the order given
    }

    void messagePopupHasOneButton()
    {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            auto seen = answerNextPopup(key);
            QCOMPARE(MessagePopup("Error!", "Can't find 'vers.kq' file!"), 1);
            QVERIFY(seen->answered);
            QCOMPARE(seen->title, QString("Error!"));
            QCOMPARE(seen->text, QString("Can't find 'vers.kq' file!"));
            QCOMPARE(seen->buttons.size(), 1);
        }
    }

    // As the Start button does: its commit opens a popup; the answer comes
    // back to the callback, and the panel's timer is held while it is open.
    void popupFromACallbackHoldsTheTimer()
    {
        SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.01);
        SetCtrlAttribute(panel, TIMER, ATTR_ENABLED, 1);
        QTRY_VERIFY(countOf(TIMER, EVENT_TIMER_TICK) >= 1);

        int answer = 0, ticksBefore = -1, ticksAfter = -1;
        onEvent = [&](const Delivered &d) {
            if (d.control != GO || d.event != EVENT_COMMIT)
                return;
            ticksBefore = countOf(TIMER, EVENT_TIMER_TICK);
            answer = GenericMessagePopup("Please...", "Power on the camera", "Ok", "Cancel", nullptr);
            ticksAfter = countOf(TIMER, EVENT_TIMER_TICK);
        };
        auto seen = answerNextPopup(Qt::Key_Escape, 150);  // open for fifteen intervals
        QTest::mouseClick(control(GO), Qt::LeftButton);
        QVERIFY(seen->answered);
        QCOMPARE(answer, 2);
        QCOMPARE(ticksAfter, ticksBefore);
        QTRY_VERIFY(countOf(TIMER, EVENT_TIMER_TICK) > ticksAfter);  // and ticks again after
    }

    void popupsOnlyOnTheUiThread()
    {
        int rc = 0;
        std::thread([&rc] { rc = MessagePopup("t", "m"); }).join();
        QCOMPARE(rc, int(kPanelWrongThread));
    }
};

namespace {

// Starts the run-time as the loader's main does, from argument strings that
// are gone once this returns.
void startRunTime()
{
    std::string program = "panel_events";
    std::vector<char *> argv{program.data(), nullptr};
    if (!InitRunTime(1, argv.data()))
        std::abort();
}

} // namespace

int main(int argc, char **argv)
{
    startRunTime();
    PanelEventsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_panel_events.moc"
