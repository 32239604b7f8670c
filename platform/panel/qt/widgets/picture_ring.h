// Picture ring: a list of (value, picture) items; it shows the picture of the
// item whose value equals its own value, and nothing when none does. Clicks
// do not change the value: the program sets it.
//
// Items are given as "value=path" texts, e.g. "0=:/pictures/frame0.svg".
// SVG pictures are drawn at their own size, centred; other formats likewise.
// A tinted ring draws its pictures as ink on the paper of a text box: dark
// parts in the palette's text colour on its base colour, so a black-on-white
// drawing reads on a dark palette too.
// An operable ring (one with a callback) takes the keyboard focus by Tab
// and is pressed by Space or Enter, as a click presses it.
#pragma once

#include <QPixmap>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

class QSvgRenderer;

namespace platform {

class PictureRing : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int value READ value WRITE setValue)
    Q_PROPERTY(QStringList items READ items WRITE setItems)
    Q_PROPERTY(bool framed READ framed WRITE setFramed)
    Q_PROPERTY(bool tinted READ tinted WRITE setTinted)
    Q_PROPERTY(double pictureScale READ pictureScale WRITE setPictureScale)

public:
    explicit PictureRing(QWidget *parent = nullptr);
    ~PictureRing() override;

    int value() const { return value_; }
    void setValue(int value);
    QStringList items() const { return itemTexts_; }
    void setItems(const QStringList &items);
    bool framed() const { return framed_; }  // a raised frame around the picture
    void setFramed(bool framed);
    bool tinted() const { return tinted_; }
    // Pictures are drawn at their own size times this (the panel scaled
    // to a large desktop font), centred.
    double pictureScale() const { return pictureScale_; }
    void setPictureScale(double scale);
    void setTinted(bool tinted);
    bool operable() const { return operable_; }
    void setOperable(bool operable);  // focus by Tab, pressed by Space or Enter
    void press();                     // as the operator's press: emits pressed()

    // The picture path of the item shown now, "" when none matches the value.
    QString currentPicture() const;
    // False when an item's text is malformed or its picture cannot be read.
    bool itemsValid() const { return itemsValid_; }

signals:
    void pressed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Item {
        int value;
        QString path;
        std::shared_ptr<QSvgRenderer> svg;  // set for SVG pictures
        QPixmap pixmap;                     // set for the others
    };
    const Item *currentItem() const;
    QImage inkImage(const Item &item, QSize size) const;

    int value_ = 0;
    bool framed_ = false;
    bool tinted_ = false;
    double pictureScale_ = 1.0;
    bool operable_ = false;
    bool itemsValid_ = true;
    QStringList itemTexts_;
    std::vector<Item> items_;
};

} // namespace platform
