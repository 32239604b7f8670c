// The main panel as its definition builds it (every control with its id,
// kind, place, stored texts, values and states, and its pictures), and how
// each kind of control takes values and attributes.
#include "platform.h"
#include "panel_fixture.h"
#include "ui_constants.h"

#include "widgets/command_button.h"
#include "widgets/led.h"
#include "widgets/numeric_display.h"
#include "widgets/picture_ring.h"
#include "widgets/slide.h"
#include "widgets/text_box.h"
#include "widgets/text_message.h"

#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QSvgRenderer>
#include <QtTest>
#include <set>

using platform::CommandButton;
using platform::Led;
using platform::NumericDisplay;
using platform::PictureRing;
using platform::Slide;
using platform::TextBox;
using platform::TextMessage;

namespace {

// Where a control itself stands on the panel: an LED's lamp and a numeric's
// box, not the label drawn beside them.
QRect placeOnPanel(QWidget *widget)
{
    if (auto *led = qobject_cast<Led *>(widget))
        return led->indicatorRect().translated(widget->pos());
    if (auto *numeric = qobject_cast<NumericDisplay *>(widget))
        return numeric->valueRect().translated(widget->pos());
    return widget->geometry();
}

bool isDark(QRgb pixel)
{
    return qRed(pixel) < 90 && qGreen(pixel) < 90 && qBlue(pixel) < 90;
}

std::string textOf(int panel, int control)
{
    std::string text;
    GetCtrlVal(panel, control, &text);
    return text;
}

const int kNoValue = INT_MIN;  // marks a control that holds no value

} // namespace

class PanelDefinitionTest : public QObject {
    Q_OBJECT

    int panel = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(InitRunTime(0, nullptr));
        panel = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY2(panel > 0, qPrintable(QString::number(panel)));
        QVERIFY(panelWindow(panel));
    }

    void cleanupTestCase() { QCOMPARE(DiscardPanel(panel), 0); }

    void panelIsTheStoredOne()
    {
        QWidget *window = panelWindow(panel);
        QCOMPARE(window->size(), QSize(413, 333));
        std::string title;
        QCOMPARE(GetPanelAttribute(panel, ATTR_TITLE, &title), 0);
        QCOMPARE(title, std::string("Quorvel"));
        QCOMPARE(window->property("callback").toString(), QString("Sortir"));
    }

    void nineteenControlsNamedByTheirConstants()
    {
        QWidget *window = panelWindow(panel);
        std::set<int> ids;
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            const QVariant id = widget->property("ctrlId");
            if (!id.isValid())
                continue;
            QVERIFY(ids.insert(id.toInt()).second);
            QVERIFY(id.toInt() >= 2 && id.toInt() <= 20);
            QCOMPARE(widget->objectName(), QString(kControlNames[id.toInt()]));
        }
        QCOMPARE(int(ids.size()), 19);
        // Operable controls name their callback; indicators have none.
        for (int id : {GO, STOP, TIMER, LANGU})
            QCOMPARE(controlWidget(panel, id)->property("callback").toString(), QString("Transfert"));
        for (int id = TITRE_TEMPS; id <= DECORATION; ++id)
            if (id != TIMER)
                QVERIFY(!controlWidget(panel, id)->property("callback").isValid());
    }

    // One row per control: what the operator sees before touching anything.
    void storedState_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("place");     // width -1: the text's own width
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("label");   // null: the control has no label
        QTest::addColumn<int>("intValue");    // kNoValue: not an int control
        QTest::addColumn<double>("doubleValue");
        QTest::addColumn<QString>("textValue");

        const QString none;
        QTest::newRow("GO") << GO << "CommandButton" << QRect(158, 295, 88, 34) << true << "__Start" << kNoValue << 0.0 << none;
        QTest::newRow("STOP") << STOP << "CommandButton" << QRect(158, 295, 88, 34) << false << "__Stop" << kNoValue << 0.0 << none;
        QTest::newRow("TITRE_TEMPS") << TITRE_TEMPS << "TextMessage" << QRect(197, 234, -1, 15) << true << none << kNoValue << 0.0 << "Transfer time :";
        QTest::newRow("TEMPS") << TEMPS << "TextMessage" << QRect(307, 235, -1, 15) << true << none << kNoValue << 0.0 << "00:00";
        QTest::newRow("TITRE_TAUX") << TITRE_TAUX << "TextMessage" << QRect(197, 215, -1, 15) << true << none << kNoValue << 0.0 << "Transfer rate :";
        QTest::newRow("TAUX") << TAUX << "NumericDisplay" << QRect(316, 215, 24, 15) << true << "kb/s" << kNoValue << 0.0 << none;
        QTest::newRow("TEXTBOX") << TEXTBOX << "TextBox" << QRect(10, 32, 393, 145) << true << none << kNoValue << 0.0 << "";
        QTest::newRow("SLIDE") << SLIDE << "Slide" << QRect(9, 186, 269, 17) << true << "0 %" << 0 << 0.0 << none;
        QTest::newRow("OCTET") << OCTET << "NumericDisplay" << QRect(284, 187, 45, 15) << true << "Mb" << kNoValue << 0.0 << none;
        QTest::newRow("LED1") << LED1 << "Led" << QRect(13, 217, 20, 20) << true << "Erasing Flash" << 0 << 0.0 << none;
        QTest::newRow("LED2") << LED2 << "Led" << QRect(13, 243, 20, 20) << true << "Programming Flash" << 0 << 0.0 << none;
        QTest::newRow("INFO") << INFO << "TextMessage" << QRect(12, 277, -1, 15) << true << none << kNoValue << 0.0 << "";
        QTest::newRow("BOOT") << BOOT << "Led" << QRect(5, 4, 20, 20) << true << "Not connected" << 0 << 0.0 << none;
        QTest::newRow("PICTURE") << PICTURE << "PictureRing" << QRect(298, 87, 100, 90) << false << none << 0 << 0.0 << none;
        QTest::newRow("DUREE") << DUREE << "TextMessage" << QRect(197, 253, -1, 15) << true << none << kNoValue << 0.0 << "Duration : about 1 min.";
        QTest::newRow("DECORATION_2") << DECORATION_2 << "QFrame" << QRect(8, 209, 180, 65) << true << none << kNoValue << 0.0 << none;
        QTest::newRow("DECORATION") << DECORATION << "QFrame" << QRect(192, 209, 213, 65) << true << none << kNoValue << 0.0 << none;
        QTest::newRow("LANGU") << LANGU << "PictureRing" << QRect(370, 6, 26, 19) << true << none << 0 << 0.0 << none;
    }

    void storedState()
    {
        QFETCH(int, id);
        QFETCH(QString, kind);
        QFETCH(QRect, place);
        QFETCH(bool, visible);
        QFETCH(QString, label);
        QFETCH(int, intValue);
        QFETCH(QString, textValue);

        QWidget *widget = controlWidget(panel, id);
        QVERIFY(widget);
        QCOMPARE(QString(widget->metaObject()->className()).section("::", -1), kind);

        QRect actual = placeOnPanel(widget);
        if (place.width() < 0) {  // a text message is as wide as its text
            QCOMPARE(actual.width(), widget->sizeHint().width());
            actual.setWidth(-1);
        }
        QCOMPARE(actual, place);

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

        if (intValue != kNoValue) {
            int value = -1;
            QCOMPARE(GetCtrlVal(panel, id, &value), 0);
            QCOMPARE(value, intValue);
        } else if (!textValue.isNull()) {
            QCOMPARE(QString::fromStdString(textOf(panel, id)), textValue);
        } else if (kind == "NumericDisplay") {
            double value = -1.0;
            QCOMPARE(GetCtrlVal(panel, id, &value), 0);
            QCOMPARE(value, 0.0);
        } else {
            int value = 0;
            QCOMPARE(GetCtrlVal(panel, id, &value), int(kPanelBadAttribute));
        }
    }

    void labelsBesideTheirIndicators_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QPoint>("labelPlace");  // (left, top) on the panel
        QTest::newRow("BOOT") << BOOT << QPoint(27, 6);
        QTest::newRow("LED1") << LED1 << QPoint(35, 220);
        QTest::newRow("LED2") << LED2 << QPoint(35, 246);
        QTest::newRow("OCTET") << OCTET << QPoint(335, 187);
        QTest::newRow("TAUX") << TAUX << QPoint(348, 215);
    }

    // Looks at the drawn panel: the label's text starts at its place, and
    // nothing is drawn between the indicator and the label.
    void labelsBesideTheirIndicators()
    {
        QFETCH(int, id);
        QFETCH(QPoint, labelPlace);
        QWidget *widget = controlWidget(panel, id);
        QCOMPARE(widget->property("labelPos").toPoint() + widget->pos(), labelPlace);

        const QImage image = panelWindow(panel)->grab().toImage();
        const QRect indicator = placeOnPanel(widget);
        int firstInk = -1;
        for (int x = indicator.right() + 2; x < labelPlace.x() + 20 && firstInk < 0; ++x)
            for (int y = labelPlace.y(); y < labelPlace.y() + 14; ++y)
                if (isDark(image.pixel(x, y))) {
                    firstInk = x;
                    break;
                }
        QVERIFY2(firstInk >= labelPlace.x() && firstInk <= labelPlace.x() + 3,
                 qPrintable(QString("label ink starts at x=%1").arg(firstInk)));
    }

    void slideLabelCentredOnTheBar()
    {
        QWidget *slide = controlWidget(panel, SLIDE);
        const QImage image = slide->grab().toImage();
        int left = image.width(), right = -1;
        for (int x = 3; x < image.width() - 3; ++x)
            for (int y = 3; y < image.height() - 3; ++y)
                if (isDark(image.pixel(x, y))) {
                    left = qMin(left, x);
                    right = qMax(right, x);
                }
        QVERIFY(right > left);
        QVERIFY(qAbs((left + right) / 2 - image.width() / 2) <= 2);
        QVERIFY(qAbs(slide->x() + left - 134) <= 4);  // "0 %" starts near 134
    }

    void goAndStopShareOnePlace()
    {
        QCOMPARE(controlWidget(panel, GO)->geometry(), controlWidget(panel, STOP)->geometry());
    }

    void updateDisplayIsOffAtLoad()
    {
        double interval = 0.0;
        int enabled = -1, color = -1, bold = -1;
        QCOMPARE(GetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, &interval), 0);
        QCOMPARE(interval, 0.2);
        QCOMPARE(GetCtrlAttribute(panel, TIMER, ATTR_ENABLED, &enabled), 0);
        QCOMPARE(enabled, 0);
        QCOMPARE(GetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, &color), 0);
        QCOMPARE(color, 0x000000);
        QCOMPARE(GetCtrlAttribute(panel, TEMPS, ATTR_TEXT_BOLD, &bold), 0);
        QCOMPARE(bold, 0);
    }

    void picturesOfTheRings()
    {
        auto *picture = controlWidget<PictureRing>(panel, PICTURE);
        QCOMPARE(picture->items().size(), 9);
        for (int k = 0; k < 9; ++k) {
            QCOMPARE(SetCtrlVal(panel, PICTURE, k), 0);
            QCOMPARE(picture->currentPicture(), QString(":/pictures/frame%1.svg").arg(k));
        }
        QCOMPARE(SetCtrlVal(panel, PICTURE, 0), 0);

        // The language ring shows the flag of the language a click switches to.
        auto *langu = controlWidget<PictureRing>(panel, LANGU);
        QCOMPARE(langu->currentPicture(), QString(":/pictures/flag_fr.svg"));
        QCOMPARE(SetCtrlVal(panel, LANGU, 1), 0);
        QCOMPARE(langu->currentPicture(), QString(":/pictures/flag_uk.svg"));
        QCOMPARE(SetCtrlVal(panel, LANGU, 0), 0);
        QCOMPARE(langu->items().first(), QString("1=:/pictures/flag_uk.svg"));  // item 0 is the British flag

        // Drawn: the French flag's blue band inside the ring's frame.
        const QImage image = langu->grab().toImage();
        const QRgb blue = image.pixel(6, 9);
        QVERIFY(qBlue(blue) > 120 && qRed(blue) < 60);
        const QRgb red = image.pixel(19, 9);
        QVERIFY(qRed(red) > 200 && qBlue(red) < 90);
    }

    // Nine different frames, black on white, at 100 x 90; flags at 16 x 10.
    void animationFramesAndFlags()
    {
        std::set<QByteArray> distinct;
        for (int k = 0; k < 9; ++k) {
            QSvgRenderer frame(QString(":/pictures/frame%1.svg").arg(k));
            QVERIFY(frame.isValid());
            QCOMPARE(frame.defaultSize(), QSize(100, 90));
            QImage image(100, 90, QImage::Format_RGB32);
            image.fill(Qt::red);
            QPainter painter(&image);
            frame.render(&painter);
            painter.end();
            int black = 0;
            for (int y = 0; y < 90; ++y)
                for (int x = 0; x < 100; ++x) {
                    const QRgb p = image.pixel(x, y);
                    QVERIFY2(qAbs(qRed(p) - qGreen(p)) < 8 && qAbs(qGreen(p) - qBlue(p)) < 8,
                             "a frame is black and white only");
                    black += qGray(p) < 60;
                }
            QVERIFY(black > 300);
            QVERIFY(qGray(image.pixel(50, 2)) > 240);  // white background
            distinct.insert(QByteArray(reinterpret_cast<const char *>(image.constBits()),
                                       image.sizeInBytes()));
        }
        QCOMPARE(int(distinct.size()), 9);
        for (const char *flag : {":/pictures/flag_uk.svg", ":/pictures/flag_fr.svg"}) {
            QSvgRenderer renderer{QString(flag)};
            QVERIFY(renderer.isValid());
            QCOMPARE(renderer.defaultSize(), QSize(16, 10));
        }
    }

    void textBoxAppendsExactly()
    {
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "START : "), 0);
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "START OK\r\n"), 0);
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "Transferring file...\n"), 0);
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "Effacement de la FLASH"), 0);
        QCOMPARE(textOf(panel, TEXTBOX),
                 std::string("START : START OK\r\nTransferring file...\nEffacement de la FLASH"));
        auto *box = controlWidget<TextBox>(panel, TEXTBOX);
        QCOMPARE(box->document()->blockCount(), 3);  // one line per line end

        QCOMPARE(ResetTextBox(panel, TEXTBOX, ""), 0);
        QCOMPARE(textOf(panel, TEXTBOX), std::string());
        QCOMPARE(box->toPlainText(), QString());
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "x"), 0);
        QCOMPARE(textOf(panel, TEXTBOX), std::string("x"));
        QCOMPARE(ResetTextBox(panel, TEXTBOX, "new\n"), 0);
        QCOMPARE(textOf(panel, TEXTBOX), std::string("new\n"));
        ResetTextBox(panel, TEXTBOX, "");
    }

    // Bytes that are not UTF-8 (a camera's 8-bit text) still show, one character each.
    void textBoxKeepsEightBitBytes()
    {
        QCOMPARE(SetCtrlVal(panel, TEXTBOX, "caf\xe9\n"), 0);
        QCOMPARE(controlWidget<TextBox>(panel, TEXTBOX)->text(), QString::fromUtf8("café\n"));
        ResetTextBox(panel, TEXTBOX, "");
    }

    void logIsFixedPitchAndReadOnly()
    {
        auto *box = controlWidget<TextBox>(panel, TEXTBOX);
        QVERIFY(box->isReadOnly());
        QVERIFY(QFontInfo(box->font()).fixedPitch());
        QVERIFY(!QFontInfo(controlWidget(panel, TITRE_TAUX)->font()).fixedPitch());
    }

    void textMessageFitsItsText()
    {
        auto *info = controlWidget<TextMessage>(panel, INFO);
        const int before = info->width();
        QCOMPARE(SetCtrlVal(panel, INFO, "Updating with v1.09 (1.500 Mb)"), 0);
        QCOMPARE(info->pos(), QPoint(12, 277));
        QVERIFY(info->width() > before + 50);
        QCOMPARE(info->width(), info->sizeHint().width());
        QCOMPARE(textOf(panel, INFO), std::string("Updating with v1.09 (1.500 Mb)"));

        // Bold text is wider; the message follows.
        auto *temps = controlWidget<TextMessage>(panel, TEMPS);
        const int plain = temps->width();
        QCOMPARE(SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_BOLD, 1), 0);
        QVERIFY(temps->font().bold());
        QVERIFY(temps->width() > plain);
        QCOMPARE(SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_BOLD, 0), 0);
        QCOMPARE(temps->width(), plain);
        QCOMPARE(SetCtrlVal(panel, INFO, ""), 0);
    }

    void numericsShowTheirDecimals_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<double>("kept");
        QTest::newRow("rate") << TAUX << 11.25 << "11.3" << 11.25;
        QTest::newRow("rate small") << TAUX << 0.04 << "0.0" << 0.04;
        QTest::newRow("rate below range") << TAUX << -3.0 << "0.0" << 0.0;
        QTest::newRow("megabytes") << OCTET << 1.5 << "1.500" << 1.5;
        QTest::newRow("megabytes rounding") << OCTET << 0.0006 << "0.001" << 0.0006;
    }

    void numericsShowTheirDecimals()
    {
        QFETCH(int, id);
        QFETCH(double, value);
        QFETCH(QString, shown);
        QFETCH(double, kept);
        QCOMPARE(SetCtrlVal(panel, id, value), 0);
        QCOMPARE(controlWidget<NumericDisplay>(panel, id)->displayedText(), shown);
        double read = -1.0;
        QCOMPARE(GetCtrlVal(panel, id, &read), 0);
        QCOMPARE(read, kept);
        QCOMPARE(SetCtrlVal(panel, id, 0), 0);  // an int is taken as a double
        QCOMPARE(GetCtrlVal(panel, id, &read), 0);
        QCOMPARE(read, 0.0);
    }

    void slideStaysWithinItsRange()
    {
        auto *slide = controlWidget<Slide>(panel, SLIDE);
        int value = -1;
        QCOMPARE(SetCtrlVal(panel, SLIDE, 150), 0);
        GetCtrlVal(panel, SLIDE, &value);
        QCOMPARE(value, 100);
        QCOMPARE(SetCtrlVal(panel, SLIDE, -5), 0);
        GetCtrlVal(panel, SLIDE, &value);
        QCOMPARE(value, 0);
        QCOMPARE(slide->filledRect().width(), 0);
        QCOMPARE(SetCtrlVal(panel, SLIDE, 50), 0);
        const int half = slide->filledRect().width();
        QCOMPARE(SetCtrlVal(panel, SLIDE, 100), 0);
        QVERIFY(qAbs(2 * half - slide->filledRect().width()) <= 1);

        // The bar is drawn in the fill colour up to the value.
        QCOMPARE(SetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, 0x00FF00), 0);
        QCOMPARE(SetCtrlVal(panel, SLIDE, 50), 0);
        const QImage image = slide->grab().toImage();
        QCOMPARE(image.pixel(10, 4) & 0xFFFFFF, 0x00FF00u);
        QVERIFY((image.pixel(slide->width() - 10, 4) & 0xFFFFFF) != 0x00FF00u);
        int fill = 0;
        QCOMPARE(GetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, &fill), 0);
        QCOMPARE(fill, 0x00FF00);
        SetCtrlVal(panel, SLIDE, 0);
    }

    void ledsAndRingsTakeInts()
    {
        int value = -1;
        QCOMPARE(SetCtrlVal(panel, LED1, 1), 0);
        QCOMPARE(GetCtrlVal(panel, LED1, &value), 0);
        QCOMPARE(value, 1);
        QVERIFY(controlWidget<Led>(panel, LED1)->value());
        QCOMPARE(SetCtrlVal(panel, LED1, 0), 0);
        QVERIFY(!controlWidget<Led>(panel, LED1)->value());
        QCOMPARE(SetCtrlVal(panel, PICTURE, 7), 0);
        QCOMPARE(GetCtrlVal(panel, PICTURE, &value), 0);
        QCOMPARE(value, 7);
        SetCtrlVal(panel, PICTURE, 0);
    }

    void accessLetterMarker_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("shown");  // in Qt's mnemonic notation
        QTest::newRow("marked") << "__Start" << "&Start";
        QTest::newRow("marked inside") << "Re__start" << "Re&start";
        QTest::newRow("catalogue text") << "Stop" << "Stop";
        QTest::newRow("accented") << QString::fromUtf8("Démarrer") << QString::fromUtf8("Démarrer");
        QTest::newRow("ampersand shows") << "R&D" << "R&&D";
        QTest::newRow("single underscore") << "a_b" << "a_b";
    }

    void accessLetterMarker()
    {
        QFETCH(QString, label);
        QFETCH(QString, shown);
        QCOMPARE(SetCtrlAttribute(panel, GO, ATTR_LABEL_TEXT, label.toUtf8().constData()), 0);
        QCOMPARE(controlWidget<CommandButton>(panel, GO)->text(), shown);
        std::string back;
        QCOMPARE(GetCtrlAttribute(panel, GO, ATTR_LABEL_TEXT, &back), 0);
        QCOMPARE(QString::fromStdString(back), label);  // read back as set
        SetCtrlAttribute(panel, GO, ATTR_LABEL_TEXT, "__Start");
    }

    void attributesReadBackAsSet()
    {
        int value = -1;
        QCOMPARE(SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, 0xFF0000), 0);
        QCOMPARE(GetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, &value), 0);
        QCOMPARE(value, 0xFF0000);
        // Drawn red, as dark a red as it takes to read on the window.
        const QColor shown = controlWidget(panel, TEMPS)->palette().color(QPalette::WindowText);
        QCOMPARE(shown.hsvHue(), 0);
        QVERIFY(shown.red() > 180 && shown.green() == 0 && shown.blue() == 0);
        QCOMPARE(SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, 0), 0);
        QCOMPARE(controlWidget(panel, TEMPS)->palette().color(QPalette::WindowText),
                 panelWindow(panel)->palette().color(QPalette::WindowText));

        double interval = 0.0;
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.5), 0);
        QCOMPARE(GetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, &interval), 0);
        QCOMPARE(interval, 0.5);
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_INTERVAL, 0.2), 0);

        QCOMPARE(SetCtrlAttribute(panel, BOOT, ATTR_LABEL_TEXT, "Connected COM7 used"), 0);
        std::string label;
        QCOMPARE(GetCtrlAttribute(panel, BOOT, ATTR_LABEL_TEXT, &label), 0);
        QCOMPARE(label, std::string("Connected COM7 used"));
        SetCtrlAttribute(panel, BOOT, ATTR_LABEL_TEXT, "Not connected");
    }

    void wrongRequestsAreRefused()
    {
        std::string text;
        int value = 0;
        QCOMPARE(SetCtrlAttribute(panel, TEMPS, ATTR_LABEL_TEXT, "x"), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlVal(panel, LED1, "on"), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlVal(panel, TAUX, "12"), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlVal(panel, DECORATION, 1), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlAttribute(panel, TIMER, ATTR_VISIBLE, 1), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, "red"), int(kPanelBadAttribute));
        QCOMPARE(ResetTextBox(panel, TEMPS, ""), int(kPanelBadAttribute));
        QCOMPARE(ResetTimer(panel, GO), int(kPanelBadAttribute));
        QCOMPARE(GetCtrlVal(panel, LED1, &text), int(kPanelBadAttribute));
        QCOMPARE(SetCtrlVal(panel, 99, 1), int(kPanelBadHandle));
        QCOMPARE(GetCtrlVal(panel + 100, GO, &value), int(kPanelBadHandle));
        QCOMPARE(SetPanelAttribute(panel + 100, ATTR_TITLE, "x"), int(kPanelBadHandle));
        // Nothing was changed by the refused calls.
        QCOMPARE(textOf(panel, TEMPS), std::string("00:00"));
        GetCtrlVal(panel, LED1, &value);
        QCOMPARE(value, 0);
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
        const int before = QApplication::topLevelWidgets().size();
        QCOMPARE(LoadPanel(0, name.toUtf8().constData(), panelId), result);
        QCOMPARE(QApplication::topLevelWidgets().size(), before);  // nothing left behind
    }

    void discardedPanelIsGone()
    {
        const int second = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY(second > 0 && second != panel);
        QPointer<QWidget> window = panelWindow(second);
        QVERIFY(window);
        QCOMPARE(DiscardPanel(second), 0);
        QVERIFY(window.isNull());
        QCOMPARE(DiscardPanel(second), int(kPanelBadHandle));
        QCOMPARE(SetCtrlVal(second, LED1, 1), int(kPanelBadHandle));
        QCOMPARE(DisplayPanel(second), int(kPanelBadHandle));
    }
};

QTEST_MAIN(PanelDefinitionTest)
#include "test_panel_definition.moc"
