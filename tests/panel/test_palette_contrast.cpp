// Every text of the panel reads on a light and on a dark desktop: the panel
// is drawn idle, mid-update and after a successful update under each
// palette, and in the pixels drawn each text stands out from what is behind
// it by at least 4.5:1 (relative luminance, as the web's accessibility
// guidelines measure it). The animation lies on the log's own paper.
#include "control.h"
#include "loader_state.h"
#include "platform.h"
#include "ui_constants.h"

#include "mid_update.h"
#include "panel_fixture.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QStyle>
#include <QtTest>
#include <cmath>
#include <map>

namespace {

double luminance(QRgb rgb)
{
    auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(rgb)) + 0.7152 * linear(qGreen(rgb)) + 0.0722 * linear(qBlue(rgb));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The background of an area is its commonest colour; its text is the colour
// that stands out most from it, found on at least two pixels (the glyphs'
// fully covered pixels; their antialiased edges lie between the two).
struct Reading {
    bool hasText = false;
    QRgb background = 0;
    QRgb text = 0;
    double ratio = 0.0;
};

Reading readArea(const QImage &image, const QRect &area)
{
    std::map<QRgb, int> counts;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y) | 0xFF000000u];
    Reading reading;
    int most = 0;
    for (const auto &[colour, n] : counts)
        if (n > most) {
            most = n;
            reading.background = colour;
        }
    for (const auto &[colour, n] : counts) {
        const double ratio = contrast(colour, reading.background);
        if (n >= 2 && ratio > 1.1 && ratio > reading.ratio) {
            reading.ratio = ratio;
            reading.text = colour;
            reading.hasText = true;
        }
    }
    return reading;
}

QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x35, 0x35, 0x35), base(0x2A, 0x2A, 0x2A), text(0xEE, 0xEE, 0xEE);
    const QColor disabled(0x80, 0x80, 0x80);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Highlight, QColor(0x2A, 0x82, 0xDA));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::Light, window.lighter(150));
    p.setColor(QPalette::Midlight, window.lighter(125));
    p.setColor(QPalette::Mid, window.darker(120));
    p.setColor(QPalette::Dark, window.darker(150));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    p.setColor(QPalette::Disabled, QPalette::Text, disabled);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    return p;
}

} // namespace

class PaletteContrastTest : public QObject {
    Q_OBJECT
    int panel = 0;

    QWidget *window() const { return panelWindow(panel); }
    QWidget *control(int id) const { return controlWidget(panel, id); }
    QRect placeOf(int id) const { return QRect(control(id)->mapTo(window(), QPoint(0, 0)), control(id)->size()); }

    // The areas where the panel shows text now, named for the messages.
    std::vector<std::pair<QString, QRect>> textAreas() const
    {
        std::vector<std::pair<QString, QRect>> areas;
        auto add = [&](const QString &name, const QRect &r) { areas.emplace_back(name, r); };
        for (int id : {TITRE_TEMPS, TEMPS, TITRE_TAUX, DUREE, INFO})
            add(kControlNames[id], placeOf(id));
        for (int id : {LED1, LED2, BOOT}) {
            const QPoint at = control(id)->property("labelPos").toPoint();
            const QRect place = placeOf(id);
            add(QString(kControlNames[id]) + " label",
                QRect(place.topLeft() + at, QSize(place.width() - at.x(), control(id)->fontMetrics().height() + 2)));
        }
        for (int id : {TAUX, OCTET}) {
            const QRect place = placeOf(id);
            const QRect box = control(id)->property("valueRect").toRect().translated(place.topLeft());
            add(QString(kControlNames[id]) + " value", box.adjusted(1, 1, -1, -1));
            const QPoint at = control(id)->property("labelPos").toPoint();
            add(QString(kControlNames[id]) + " unit",
                QRect(place.topLeft() + at, QSize(place.width() - at.x(), place.height())));
        }
        // The slide's label, split where the fill ends under it.
        QWidget *slide = control(SLIDE);
        const QString label = slide->property("label").toString();
        const QFontMetrics fm = slide->fontMetrics();
        const QRect place = placeOf(SLIDE);
        QRect text(QPoint(0, 0), QSize(fm.horizontalAdvance(label) + 2, fm.height()));
        text.moveCenter(place.center());
        const int fillEnd = place.left() + 2
                            + (place.width() - 4) * slide->property("value").toInt() / 100;
        if (fillEnd - text.left() >= 4)
            add("SLIDE label on the fill", QRect(text.topLeft(), QPoint(std::min(fillEnd - 1, text.right()), text.bottom())));
        if (text.right() - fillEnd >= 4)
            add("SLIDE label on the track", QRect(QPoint(std::max(fillEnd, text.left()), text.top()), text.bottomRight()));
        const int button = control(GO)->isVisible() ? GO : STOP;
        add(kControlNames[button], placeOf(button).adjusted(6, 6, -6, -6));
        // The log's first line.
        const QRect log = placeOf(TEXTBOX);
        add("TEXTBOX", QRect(log.topLeft() + QPoint(4, 4), QSize(200, control(TEXTBOX)->fontMetrics().height())));
        if (control(PICTURE)->isVisible())
            add("PICTURE", placeOf(PICTURE));
        return areas;
    }

    void checkEveryText(const QString &when)
    {
        QCoreApplication::processEvents();
        const QImage image = window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY2(image.width() >= 413, qPrintable(when));
        for (const auto &[name, area] : textAreas()) {
            const Reading r = readArea(image, area);
            const QString what = QStringLiteral("%1, %2: text %3 on %4, %5:1")
                                     .arg(when, name, QColor(r.text).name(), QColor(r.background).name())
                                     .arg(r.ratio, 0, 'f', 2);
            qInfo().noquote() << what;
            QVERIFY2(r.hasText, qPrintable(what + " (no text found)"));
            QVERIFY2(r.ratio >= 4.5, qPrintable(what));
        }
        if (control(PICTURE)->isVisible()) {
            // No box of its own: its corner is the log's paper.
            const QRect picture = placeOf(PICTURE);
            const QColor paper = control(TEXTBOX)->palette().color(QPalette::Base);
            QCOMPARE(QColor(image.pixel(picture.topLeft() + QPoint(1, 1))), paper);
            QCOMPARE(QColor(image.pixel(picture.bottomRight() - QPoint(1, 30))), paper);
        }
    }

    void idle()
    {
        EtatRepos(panel);
        SetCtrlVal(panel, SLIDE, 0);
        SetCtrlAttribute(panel, SLIDE, ATTR_LABEL_TEXT, "0 %");
    }

    // As the program shows an update at half its image.
    void midUpdate()
    {
        showMidUpdate(panel);
        SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, 0xFF0000);
        SetCtrlAttribute(panel, TEMPS, ATTR_TEXT_BOLD, 1);
        SetCtrlVal(panel, PICTURE, 3);
    }

    // Success: the slide full and green, then the update's end as the
    // program ends it (the time black again, the idle panel).
    void finished()
    {
        SetCtrlAttribute(panel, SLIDE, ATTR_FILL_COLOR, 0x00FF00);
        SetCtrlVal(panel, SLIDE, 100);
        SetCtrlAttribute(panel, SLIDE, ATTR_LABEL_TEXT, "100 %");
        SetCtrlVal(panel, LED2, 1);
        ArretCom();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(InitRunTime(0, nullptr));
        RegisterCtrlCallback("Transfert", Transfert);
        RegisterPanelCallback("Sortir", Sortir);
        panel = LoadPanel(0, "Quorvel.uir", PANEL);
        QVERIFY(panel > 0);
        loader.panel = panel;
        SetCtrlVal(panel, INFO, "Updating with RZ4417 v01.50 : 0.250 Mb ; KWT6083 v02.05 : 0.188 Mb");
        SetCtrlVal(panel, TEXTBOX, "RZ4417 Bootloader v1.2 on COM1\nSTART : START OK\n");
        SetCtrlVal(panel, LANGU, 0);
        NommerControles(panel);
        DisplayPanel(panel);
        QVERIFY(QTest::qWaitForWindowExposed(window()));
    }

    void cleanupTestCase() { QCOMPARE(DiscardPanel(panel), 0); }

    void everyTextReads_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void everyTextReads()
    {
        QFETCH(bool, dark);
        QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
        const QString palette = dark ? "dark" : "light";
        idle();
        checkEveryText(palette + ", idle");
        midUpdate();
        checkEveryText(palette + ", mid-update");
        finished();
        checkEveryText(palette + ", finished");
    }

    // A dark theme chosen while an update shows its red time: the red is
    // chosen again for the new background; black follows the palette.
    void paletteChangedMidUpdate()
    {
        QApplication::setPalette(QApplication::style()->standardPalette());
        midUpdate();
        QApplication::setPalette(darkPalette());
        checkEveryText("light, then dark mid-update");
        int asked = 0;
        GetCtrlAttribute(panel, TEMPS, ATTR_TEXT_COLOR, &asked);
        QCOMPARE(asked, 0xFF0000);  // read back as the program set it
        finished();
        QCOMPARE(control(TEMPS)->palette().color(QPalette::WindowText), darkPalette().color(QPalette::WindowText));
    }
};

QTEST_MAIN(PaletteContrastTest)
#include "test_palette_contrast.moc"
