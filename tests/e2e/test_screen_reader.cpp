// Whole updates as a screen reader follows them: the real program against
// the simulated camera, the accessibility tree walked while the image goes
// out, and every event the window sends a screen reader kept. A camera that
// succeeds (English), one that answers ERROR (French), and a scan the
// operator stops with Alt+S in both languages.
#include "loader_state.h"
#include "package_file.h"
#include "program_fixture.h"
#include "simcam.h"
#include "ui_constants.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QAccessibleValueInterface>
#include <QtTest>
#include <memory>

using namespace fixture;

namespace {

// What the window told a screen reader, in order: each notification as it
// shows (the change of "showing" the AT-SPI bridge passes on, and that Orca
// speaks), with its role and the text it carries then. (Without a screen
// reader on the bus, Qt passes no accessibility event on to a handler: the
// notification's showing is watched on the widget itself.)
struct Heard : QObject {
    QStringList announced;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->objectName() == "announcer") {
            QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(watched);
            if (iface && iface->role() == QAccessible::Notification)
                announced << iface->text(QAccessible::Name);
        }
        return false;
    }
};
Heard heard;

QAccessibleInterface *accessible(const char *name)
{
    return QAccessible::queryAccessibleInterface(control(name));
}

// What a screen reader reads as the control's text (its text interface).
QString shownText(const char *name)
{
    QAccessibleInterface *iface = accessible(name);
    QAccessibleTextInterface *text = iface ? iface->textInterface() : nullptr;
    return text ? text->text(0, text->characterCount()) : QString("(no text)");
}

std::unique_ptr<SimCamera> plugIn(SimCameraOptions o)
{
    o.fileOkSeconds = 0.1;
    o.eraseSeconds = 1.5;  // each step on a one-second mark of its own
    o.programSeconds = 1.5;
    o.lineRate = 40000;     // a few seconds of image, to look at it going out
    auto cam = std::make_unique<SimCamera>(o);
    std::string error;
    if (!cam->start(&error))
        qFatal("simulated camera: %s", error.c_str());
    qputenv("QUORVEL_COM_PORTS", QString("4=%1").arg(QString::fromStdString(cam->devicePath())).toLocal8Bit());
    return cam;
}

// The window has the keyboard, as on a desktop.
void activate()
{
    QApplication::setActiveWindow(window());
    QVERIFY(QTest::qWaitForWindowActive(window()));
}

void toFrench()
{
    click("LANGU");
    QCOMPARE(loader.language, 1);
}

// The window's children as a screen reader walks them.
QStringList readingOrder()
{
    QStringList order;
    QAccessibleInterface *w = QAccessible::queryAccessibleInterface(window());
    for (int i = 0; i < w->childCount(); ++i) {
        QAccessibleInterface *c = w->child(i);
        const bool consistent = c && w->indexOfChild(c) == i;  // the reader finds it where it was
        order << (c && c->object() && consistent ? c->object()->objectName() : QString("?"));
    }
    return order;
}

constexpr int kTimeoutMs = 30000;

} // namespace

class ScreenReaderTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qApp->installEventFilter(&heard);
        writePackage(packagePath(), "1.5 150000 2.05 1000\n", randomImage(151000, 7));
    }
    void init() { heard.announced.clear(); }
    void cleanup() { qunsetenv("QUORVEL_COM_PORTS"); }

    // Mid-update the tree holds what the panel shows, in reading order and
    // with no decorative frame; the steps and the success are told as
    // notifications; the focus goes to Stop and comes back to Start.
    void successHeardInEnglish()
    {
        auto cam = plugIn(SimCameraOptions());
        runProgram([&] {
            activate();
            pressStart();
            QTRY_VERIFY_WITH_TIMEOUT(intValue(SLIDE) >= 20 && shownText("TEMPS") != "00:00", kTimeoutMs);
            QCOMPARE(window()->focusWidget(), control("STOP"));

            const QStringList order = readingOrder();
            QVERIFY2(!order.contains("DECORATION") && !order.contains("DECORATION_2") && !order.contains("TIMER"),
                     qPrintable(order.join(' ')));
            const QStringList expected = {"BOOT", "LANGU", "TEXTBOX", "PICTURE", "SLIDE", "OCTET",
                                          "LED1", "LED2", "TITRE_TAUX", "TAUX", "TITRE_TEMPS",
                                          "TEMPS", "DUREE", "INFO", "GO", "STOP"};
            QStringList seen = order;
            seen.removeIf([&](const QString &n) { return !expected.contains(n); });
            QCOMPARE(seen, expected);

            // Values as text and as numbers, the connection in words.
            QVERIFY(QRegularExpression("^\\d\\d:\\d\\d$").match(shownText("TEMPS")).hasMatch());
            double megabytes = 0;
            GetCtrlVal(loader.panel, OCTET, &megabytes);
            QCOMPARE(accessible("OCTET")->valueInterface()->currentValue().toDouble(), megabytes);
            QVERIFY2(shownText("OCTET").endsWith(" / 0.143 Mb"), qPrintable(shownText("OCTET")));
            QVERIFY2(shownText("TAUX").endsWith(" kb/s"), qPrintable(shownText("TAUX")));
            QCOMPARE(accessible("BOOT")->text(QAccessible::Name), QString("Camera connection, Connected - COM4 used"));
            QVERIFY(accessible("SLIDE")->state().readOnly);

            QTRY_VERIFY2_WITH_TIMEOUT(heard.announced.size() == 3, qPrintable(heard.announced.join('|')), kTimeoutMs);
            QCOMPARE(heard.announced, QStringList({"Erasing FLASH", "Programming FLASH",
                                                   "Update finished: operation successful."}));
            QTRY_COMPARE(window()->focusWidget(), control("GO"));
        });
        QCOMPARE(QString::fromStdString(cam->report().verdict), QString("OK"));
    }

    // The camera's ERROR is told when it comes, in French, and once only:
    // the operator's Stop that follows keeps it.
    void cameraErrorHeardInFrench()
    {
        SimCameraOptions o;
        o.errorAfterBytes = 60000;
        auto cam = plugIn(o);
        runProgram([&] {
            activate();
            toFrench();
            pressStart();
            QTRY_VERIFY2_WITH_TIMEOUT(heard.announced.size() == 1, qPrintable(heard.announced.join('|') + log()),
                                      kTimeoutMs);
            QCOMPARE(heard.announced.first(),
                     QString::fromUtf8("La caméra a répondu ERROR : la mise à jour a échoué. Appuyez sur Stop."));
            QCOMPARE(window()->focusWidget(), control("STOP"));
            activate();
            QTest::keyClick(window(), Qt::Key_S, Qt::AltModifier);
            QTRY_VERIFY(control("GO")->isVisible());
            QTRY_COMPARE(window()->focusWidget(), control("GO"));
            QTest::qWait(300);
            QCOMPARE(heard.announced.size(), 1);
        });
    }

    // Alt+S starts and stops in both languages (the French caption has no
    // access letter, the tooltip names the key); after Ok the keyboard is
    // on Stop; a stopped scan is told.
    void altSStopsAScanInBothLanguages()
    {
        qputenv("QUORVEL_COM_PORTS", "");  // no camera: the scan runs until Stop
        runProgram([&] {
            activate();
            for (int language : {0, 1}) {
                if (language == 1)
                    toFrench();
                QCOMPARE(control("GO")->toolTip(), QString("Alt+S"));
                auto seen = answerNextPopup(Qt::Key_Return);
                QTest::keyClick(window(), Qt::Key_S, Qt::AltModifier);
                QTRY_VERIFY(seen->answered);
                activate();  // a desktop gives the window the keyboard back after the popup
                QTRY_COMPARE(window()->focusWidget(), control("STOP"));
                QTest::keyClick(window(), Qt::Key_S, Qt::AltModifier);
                QTRY_VERIFY(control("GO")->isVisible());
                QTRY_COMPARE(heard.announced.size(), language + 1);
                QCOMPARE(heard.announced.last(),
                         QString::fromUtf8(language ? "Mise à jour arrêtée." : "Update stopped."));
                QCOMPARE(window()->focusWidget(), control("GO"));
            }
        });
    }
};

QTEST_MAIN(ScreenReaderTest)
#include "test_screen_reader.moc"
