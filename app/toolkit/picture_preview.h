// The preview pane of the picture file dialogs: the selected picture scaled
// down to fit, its size, and a button that shows it at full size.
#pragma once

#include <QString>
#include <QWidget>

#include "pictures/raster/bitmap.h"

class QLabel;
class QToolButton;

namespace sigillon {

class TImage;

class TPicturePreview : public QWidget {
    Q_OBJECT

public:
    explicit TPicturePreview(QWidget* parent = nullptr);

    // Shows the picture in the file, read without any message; anything
    // that is not a loadable picture clears the pane.
    void ShowFile(const QString& path);

    QString LabelText() const;
    bool PreviewEnabled() const;
    QSize ShownSize() const;
    const TBitmap& Picture() const;
    QToolButton* PreviewButton() const { return button_; }

    // The picture at full size in a window of its own, shown modally.
    void ShowFullSize();

private:
    QLabel* label_;
    QWidget* pane_;
    TImage* image_;
    QToolButton* button_;
    QString path_;
};

}  // namespace sigillon
