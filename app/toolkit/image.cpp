#include "app/toolkit/image.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "app/toolkit/application.h"
#include "app/toolkit/design.h"
#include "app/toolkit/raster_paint.h"

namespace sigillon {

TImage::TImage(QWidget* parent) : QWidget(parent) {
    picture_.OnChange = [this] { PictureChanged(); };
}

void TImage::setAutoSize(bool on) {
    autoSize_ = on;
    if (on) PictureChanged();
}

void TImage::setStretch(bool on) {
    stretch_ = on;
    update();
}

void TImage::setPictureResource(const QString& path) {
    pictureResource_ = path;
    std::unique_ptr<TBitmap> loaded = LoadResourceBitmap(path);
    picture_.ShareImage(*loaded);
}

void TImage::PictureChanged() {
    if (autoSize_ && picture_.Width() > 0 && picture_.Height() > 0)
        resize(picture_.Width(), picture_.Height());
    update();
}

void TImage::paintEvent(QPaintEvent* event) {
    Guard([&] {
        QPainter painter(this);
        if (stretch_)
            PaintPictureStretched(painter, picture_, size(), event->rect());
        else
            PaintPicture(painter, picture_, event->rect());
    });
}

void TImage::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->pos());
    pressed_ = false;
    if (click && OnClick) Guard(OnClick);
}

}  // namespace sigillon
