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

signals:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
};

} // namespace platform
