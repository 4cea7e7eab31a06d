// TImage: a control that shows a TBitmap.
//
// The control owns its picture. It repaints whenever the picture notifies a
// change; with AutoSize it takes the size of every non-empty picture, with
// Stretch it draws the picture scaled to its own size. Writes straight into
// the rows send no notification, so whoever writes them asks for a repaint.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

#include "pictures/raster/bitmap.h"

namespace sigillon {

class TImage : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool autoSize READ AutoSize WRITE setAutoSize)
    Q_PROPERTY(bool stretch READ Stretch WRITE setStretch)
    Q_PROPERTY(QString pictureResource READ PictureResource WRITE setPictureResource)

public:
    explicit TImage(QWidget* parent = nullptr);

    TBitmap& Picture() { return picture_; }
    const TBitmap& Picture() const { return picture_; }

    bool AutoSize() const { return autoSize_; }
    void setAutoSize(bool on);
    bool Stretch() const { return stretch_; }
    void setStretch(bool on);

    // Reads the picture from a BMP file compiled into the program; a
    // resource that is missing or unreadable leaves the picture empty.
    void setPictureResource(const QString& path);
    QString PictureResource() const { return pictureResource_; }

    // Runs on a click on the control.
    std::function<void()> OnClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void PictureChanged();

    TBitmap picture_;
    bool autoSize_ = false;
    bool stretch_ = false;
    bool pressed_ = false;
    QString pictureResource_;
};

}  // namespace sigillon
