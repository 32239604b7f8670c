// Picture ring: a list of (value, picture) items; it shows the picture of the
// item whose value equals its own value, and nothing when none does. Clicks
// do not change the value: the program sets it.
//
// Items are given as "value=path" texts, e.g. "0=:/pictures/frame0.svg".
// SVG pictures are drawn at their own size, centred; other formats likewise.
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

public:
    explicit PictureRing(QWidget *parent = nullptr);
    ~PictureRing() override;

    int value() const { return value_; }
    void setValue(int value);
    QStringList items() const { return itemTexts_; }
    void setItems(const QStringList &items);
    bool framed() const { return framed_; }  // a raised frame around the picture
    void setFramed(bool framed);

    // The picture path of the item shown now, "" when none matches the value.
    QString currentPicture() const;
    // False when an item's text is malformed or its picture cannot be read.
    bool itemsValid() const { return itemsValid_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Item {
        int value;
        QString path;
        std::shared_ptr<QSvgRenderer> svg;  // set for SVG pictures
        QPixmap pixmap;                     // set for the others
    };
    const Item *currentItem() const;

    int value_ = 0;
    bool framed_ = false;
    bool itemsValid_ = true;
    QStringList itemTexts_;
    std::vector<Item> items_;
};

} // namespace platform
