// The panel for an operator without a mouse or without sight: the keyboard
// reaches Start or Stop, the flag and the log in that order, with the focus
// visible on each, and Space or Enter on the flag switches the language; a
// screen reader finds every control named in the panel's language, with a
// role that fits and what it shows as its value. On the real panel, loaded
// and named as start-up does.
#include "control.h"
#include "loader_state.h"
#include "platform.h"
#include "ui_constants.h"

#include "mid_update.h"
#include "panel_fixture.h"
#include "popup_helper.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QAccessibleValueInterface>
#include <QFile>
#include <QFocusFrame>
#include <QMetaEnum>
#include <QtTest>

namespace {

struct Accessible {
    QAccessible::Role role = QAccessible::NoRole;
    QString name;
    QString value;
    QAccessible::State state;
    QVariant current;  // a progress bar's number
};

Accessible accessibleOf(QWidget *widget)
{
    Accessible a;
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    if (!iface)
        return a;
    a.role = iface->role();
    a.name = iface->text(QAccessible::Name);
    a.value = iface->text(QAccessible::Value);
    a.state = iface->state();
    if (QAccessibleValueInterface *v = iface->valueInterface())
        a.current = v->currentValue();
    return a;
}

QString roleName(QAccessible::Role role)
{
    return QString::fromLatin1(QMetaEnum::fromType<QAccessible::Role>().valueToKey(role));
}

} // namespace

class OperatorAccessTest : public QObject {
    Q_OBJECT
    int panel = 0;

    QWidget *window() const { return panelWindow(panel); }
    QWidget *control(int id) const { return controlWidget(panel, id); }

    // The tree as a screen reader reads it, one control a line, for the log.
    void printTree(const char *when)
    {
        qInfo().noquote() << "accessibility tree," << when;
        const Accessible w = accessibleOf(window());
        qInfo().noquote() << QStringLiteral("  window: %1 \"%2\"").arg(roleName(w.role), w.name);
        for (int id = GO; id <= LANGU; ++id) {
            QWidget *c = control(id);
            const Accessible a = accessibleOf(c);
            qInfo().noquote() << QStringLiteral("  %1: %2 \"%3\" value \"%4\"%5%6")
                                     .arg(QLatin1String(kControlNames[id]), roleName(a.role), a.name,
                                          a.value, a.state.checkable ? (a.state.checked ? " on" : " off") : "",
                                          a.state.invisible ? " (hidden)" : "");
        }
    }

    // What the operator sees change when a control takes the keyboard focus.
    static bool focusShows(QWidget *widget)
    {
        widget->clearFocus();
        QCoreApplication::processEvents();
        const QImage without = widget->grab().toImage();
        widget->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        return widget->grab().toImage() != without;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(InitRunTime(0, nullptr));
        RegisterCtrlCallback("Transfert", Transfert);
        RegisterPanelCallback("Sortir", Sortir);
        loader.language = 0;
        panel = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY(panel > 0);
        loader.panel = panel;
        SetPanelAttribute(panel, ATTR_TITLE, "Quorvel - v1.09 - 09/12/2026");
        SetCtrlVal(panel, INFO, "Updating with RZ4417 v01.50 : 0.250 Mb ; KWT6083 v02.05 : 0.188 Mb");
        SetCtrlVal(panel, LANGU, loader.language);
        NommerControles(panel);
        DisplayPanel(panel);
        QApplication::setActiveWindow(window());
        QVERIFY(QTest::qWaitForWindowActive(window()));
        SetActiveCtrl(panel, GO);  // as start-up leaves it
        QCOMPARE(QApplication::focusWidget(), control(GO));
        // The log's focus frame came with the window, hidden: the log is not focused.
        auto *frame = window()->findChild<QFocusFrame *>();
        QVERIFY(frame && !frame->isVisible());
    }

    void cleanupTestCase() { QCOMPARE(DiscardPanel(panel), 0); }

    // The window's icon, class and app id are those of the menu entry.
    void introducesItself()
    {
        QVERIFY(!window()->windowIcon().isNull());
        QVERIFY(!window()->windowIcon().pixmap(48, 48).isNull());
        QCOMPARE(QGuiApplication::desktopFileName(), QString("com.quorvel.Quorvel"));
        QFile entry(QStringLiteral(QUORVEL_SOURCE_DIR "/packaging/com.quorvel.Quorvel.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(entry.readAll());
        // X11 names the window's class after the application's name.
        QVERIFY(text.contains("\nStartupWMClass=" + QCoreApplication::applicationName() + "\n"));
        QCOMPARE(QCoreApplication::applicationName(), QString("Quorvel"));
    }

    // Tab: Start, the flag, the log, and round again; backwards alike. While
    // an update runs Stop stands in Start's place and the dimmed flag is
    // passed over.
    void tabOrder()
    {
        control(GO)->setFocus(Qt::OtherFocusReason);
        const int forward[] = {LANGU, TEXTBOX, GO, LANGU};
        for (int id : forward) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), control(id));
        }
        const int backward[] = {GO, TEXTBOX, LANGU};
        for (int id : backward) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
            QCOMPARE(QApplication::focusWidget(), control(id));
        }

        EtatMarche(panel);
        control(STOP)->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control(TEXTBOX));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control(STOP));
        EtatRepos(panel);
    }

    void focusIsVisible()
    {
        QVERIFY(focusShows(control(GO)));
        QVERIFY(focusShows(control(LANGU)));
        // The log's own drawing does not change: a frame around it does.
        auto *frame = window()->findChild<QFocusFrame *>();
        QVERIFY(frame);
        control(TEXTBOX)->setFocus(Qt::TabFocusReason);
        QVERIFY(frame->isVisible());
        QVERIFY(frame->geometry().contains(control(TEXTBOX)->geometry()));
        control(GO)->setFocus(Qt::TabFocusReason);
        QVERIFY(!frame->isVisible());
    }

    // The log's caret moves with the arrows, so a screen reader reads it
    // line by line.
    void logReadByCaret()
    {
        ResetTextBox(panel, TEXTBOX, "START : START OK\nTransferring file...\nFILE OK\n");
        QWidget *log = control(TEXTBOX);
        log->setFocus(Qt::TabFocusReason);
        QTest::keyClick(log, Qt::Key_Home, Qt::ControlModifier);
        QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(log)->textInterface();
        QVERIFY(text);
        QCOMPARE(text->cursorPosition(), 0);
        QTest::keyClick(log, Qt::Key_Down);
        QCOMPARE(text->cursorPosition(), int(QString("START : START OK\n").size()));
        int start = 0, end = 0;
        QCOMPARE(text->textAtOffset(text->cursorPosition(), QAccessible::LineBoundary, &start, &end).trimmed(),
                 QString("Transferring file..."));
        ResetTextBox(panel, TEXTBOX, "");
        control(GO)->setFocus(Qt::OtherFocusReason);
    }

    // Space and Enter on the flag do what a click does; on the dimmed flag
    // (an update running) nothing.
    void flagByKeyboard()
    {
        QWidget *flag = control(LANGU);
        flag->setFocus(Qt::TabFocusReason);
        const Qt::Key keys[] = {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter};
        for (Qt::Key key : keys) {
            const int before = loader.language;
            QTest::keyClick(flag, key);
            QCOMPARE(loader.language, 1 - before);
            int shown = -1;
            GetCtrlVal(panel, LANGU, &shown);
            QCOMPARE(shown, loader.language);
        }
        QTest::keyClick(flag, Qt::Key_Space);  // an even count: English again
        QCOMPARE(loader.language, 0);

        EtatMarche(panel);
        QTest::keyClick(flag, Qt::Key_Space);
        QCOMPARE(loader.language, 0);
        EtatRepos(panel);
    }

    // Start by the keyboard, Cancel by Escape: the keyboard is back on Start.
    void cancelGivesStartTheFocus()
    {
        QWidget *start = control(GO);
        start->setFocus(Qt::TabFocusReason);
        auto seen = answerNextPopup(Qt::Key_Escape);
        QTest::keyClick(start, Qt::Key_Space);
        QTRY_VERIFY(seen->answered);
        QTRY_COMPARE(window()->focusWidget(), start);
        QVERIFY(start->isVisible());

        QCOMPARE(seen->buttons, QStringList({"Ok", "Cancel"}));
    }

    // Every control but the hidden timer and the two frames: its role, its
    // name in each language, and its value, idle.
    void idleTreeInBothLanguages()
    {
        struct Row {
            int control;
            QAccessible::Role role;
            const char *english, *french, *value;
        };
        // The keyboard tests have toggled the language: the catalogue's texts.
        const Row rows[] = {
            {GO, QAccessible::Button, "Start", "Démarrer", ""},
            {STOP, QAccessible::Button, "Stop", "Stop", ""},
            {TITRE_TEMPS, QAccessible::StaticText, "Transfer time:", "Temps de transfert:", "Transfer time:"},
            {TEMPS, QAccessible::StaticText, "Transfer time", "Temps de transfert", "00:00"},
            {TITRE_TAUX, QAccessible::StaticText, "Transfert rate:", "Taux de transfert:", "Transfert rate:"},
            {TAUX, QAccessible::StaticText, "Transfer rate", "Taux de transfert", "0.0 kb/s"},
            {TEXTBOX, QAccessible::EditableText, "Update log", "Journal de mise à jour", ""},
            {SLIDE, QAccessible::ProgressBar, "Progress", "Progression", "0 %"},
            {OCTET, QAccessible::StaticText, "Megabytes sent", "Mégaoctets envoyés", "0.000 Mb"},
            {LED1, QAccessible::CheckBox, "Erasing FLASH", "Effacement de la FLASH", ""},
            {LED2, QAccessible::CheckBox, "Programming FLASH", "Programmation de la FLASH", ""},
            // A check box is read by its name: the LED's words are in it.
            {BOOT, QAccessible::CheckBox, "Camera connection, Not connected", "Connexion de la caméra, Non connecté", "Not connected"},
            {PICTURE, QAccessible::Animation, "Update activity animation", "Animation de mise à jour en cours", ""},
            {DUREE, QAccessible::StaticText, "Duration: about 1 minute", "Durée: environ 1 minute", "Duration: about 1 minute"},
            {LANGU, QAccessible::Button, "Language: switch to French", "Langue : passer en anglais", ""},
        };
        printTree("idle, English");
        QCOMPARE(accessibleOf(control(LANGU)).name, QString("Language: switch to French"));

        const Accessible w = accessibleOf(window());
        QCOMPARE(w.role, QAccessible::Window);
        QCOMPARE(w.name, QString("Quorvel - v1.09 - 09/12/2026"));

        // The flag pressed as a screen reader presses it: French, then English.
        QAccessibleInterface *flag = QAccessible::queryAccessibleInterface(control(LANGU));
        QVERIFY(flag->actionInterface());
        QVERIFY(flag->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        for (int language : {1, 0}) {
            flag->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            QCOMPARE(loader.language, language);
            if (language == 1)
                printTree("idle, French");
            for (const Row &r : rows) {
                const Accessible a = accessibleOf(control(r.control));
                const QString where = QLatin1String(kControlNames[r.control]);
                QVERIFY2(a.role == r.role, qPrintable(where + " is " + roleName(a.role)));
                QCOMPARE(a.name, QString::fromUtf8(language ? r.french : r.english));
                if (r.control == BOOT && language == 1)
                    QCOMPARE(a.value, QString("Non connecté"));
                else if (r.control == TAUX && language == 1)
                    QCOMPARE(a.value, QString("0.0 ko/s"));
                else if (r.control == OCTET && language == 1)
                    QCOMPARE(a.value, QString("0.000 Mo"));
                else if (r.control == TITRE_TEMPS || r.control == TITRE_TAUX || r.control == DUREE)
                    QCOMPARE(a.value, a.name);
                else
                    QCOMPARE(a.value, QString::fromUtf8(r.value));
            }
        }
        // Idle: Stop and the animation are there but hidden; LEDs off.
        QVERIFY(accessibleOf(control(STOP)).state.invisible);
        QVERIFY(accessibleOf(control(PICTURE)).state.invisible);
        QVERIFY(!accessibleOf(control(GO)).state.invisible);
        for (int led : {LED1, LED2, BOOT}) {
            const Accessible a = accessibleOf(control(led));
            QVERIFY(a.state.checkable);
            QVERIFY(!a.state.checked);
            QVERIFY(a.state.readOnly);
        }
        QVERIFY(accessibleOf(control(TEXTBOX)).state.readOnly);
        QCOMPARE(accessibleOf(control(SLIDE)).current.toInt(), 0);
        // The INFO line is named by what it says.
        QCOMPARE(accessibleOf(control(INFO)).name,
                 QString("Updating with RZ4417 v01.50 : 0.250 Mb ; KWT6083 v02.05 : 0.188 Mb"));
    }

    // Mid-update, as the program leaves the panel: the values a screen reader
    // reads are the ones shown.
    void runningTree()
    {
        showMidUpdate(panel);
        printTree("running, 50 %");

        QVERIFY(accessibleOf(control(GO)).state.invisible);
        QVERIFY(!accessibleOf(control(STOP)).state.invisible);
        QVERIFY(accessibleOf(control(LANGU)).state.disabled);
        const Accessible slide = accessibleOf(control(SLIDE));
        QCOMPARE(slide.value, QString("50 %"));
        QCOMPARE(slide.current.toInt(), 50);
        const Accessible boot = accessibleOf(control(BOOT));
        QVERIFY(boot.state.checked);
        QCOMPARE(boot.value, QString("Connected COM1 used"));
        QVERIFY(accessibleOf(control(LED1)).state.checked);
        QVERIFY(!accessibleOf(control(LED2)).state.checked);
        QCOMPARE(accessibleOf(control(OCTET)).value, QString("0.125 / 0.250 Mb"));
        QCOMPARE(accessibleOf(control(TAUX)).value, QString("11.2 kb/s"));
        QCOMPARE(accessibleOf(control(TEMPS)).value, QString("00:12"));
        QVERIFY(!accessibleOf(control(PICTURE)).state.invisible);
        // The dimmed flag offers no press.
        QAccessibleInterface *flag = QAccessible::queryAccessibleInterface(control(LANGU));
        QVERIFY(!flag->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));

        SetCtrlAttribute(panel, PICTURE, ATTR_VISIBLE, 0);
        EtatRepos(panel);
    }
};

QTEST_MAIN(OperatorAccessTest)
#include "test_operator_access.moc"
