// The top-level window of a panel. Closing it only asks: the close is
// refused and reported, and the program decides whether to end.
#pragma once

#include <QWidget>

namespace platform {

class PanelWindow : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int fontPixelSize READ fontPixelSize WRITE setFontPixelSize)

public:
    explicit PanelWindow(QWidget *parent = nullptr);

    // Panel places are in pixels; so is the panel's text, whatever the screen's dpi.
    int fontPixelSize() const { return font().pixelSize(); }
    void setFontPixelSize(int pixels);

    // The panel drawn larger as a whole when the desktop's font is larger
    // than the one it was drawn for (10 points): every place, size and font
    // of the panel times the same factor, so its proportions stay; never
    // smaller, and never larger than the screen holds. Returns the factor.
    double fitDesktopFont();
    // The factor the desktop's font asks for: its size over 10 points, at
    // least 1.
    static double desktopFontScale();

signals:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
};

} // namespace platform
