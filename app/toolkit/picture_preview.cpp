#include "app/toolkit/picture_preview.h"

#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/toolkit/application.h"
#include "app/toolkit/controls.h"
#include "app/toolkit/form.h"
#include "app/toolkit/image.h"
#include "app/toolkit/raster_paint.h"
#include "pictures/picture_files.h"

namespace sigillon {
namespace {

constexpr int kPaneSize = 180;

// A window that shows one picture at full size, scrolling when it is larger
// than the screen allows.
class TPreviewWindow : public TForm {
public:
    TPreviewWindow(const TBitmap& picture, const QString& title) {
        setWindowFlags(Qt::Dialog);
        SetCaption(title);
        auto* box = new TScrollBox(this);
        box->setProperty("align", "alClient");
        auto* image = new TImage;
        box->setWidget(new QWidget);
        image->setParent(box->widget());
        image->setAutoSize(true);
        image->Picture().ShareImage(picture);
        FinishDefinition();
        QSize most(1024, 768);
        if (QScreen* screen = QGuiApplication::primaryScreen())
            most = screen->availableGeometry().size() * 9 / 10;
        SetClientSize(std::min(picture.Width(), most.width()),
                      std::min(picture.Height(), most.height()));
        SetCentredOnFirstShow(true);
    }
};

}  // namespace

TPicturePreview::TPicturePreview(QWidget* parent)
    : QWidget(parent),
      label_(new QLabel("Bild:")),
      pane_(new QFrame),
      image_(new TImage),
      button_(new QToolButton) {
    auto* frame = static_cast<QFrame*>(pane_);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setFixedSize(kPaneSize + 2 * frame->frameWidth(), kPaneSize + 2 * frame->frameWidth());
    image_->setParent(pane_);
    image_->setStretch(true);
    image_->resize(0, 0);

    button_->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    button_->setToolTip("Vorschau");
    button_->setAccessibleName("Vorschau");
    button_->setEnabled(false);
    connect(button_, &QToolButton::clicked, this, [this] { Guard([this] { ShowFullSize(); }); });

    auto* top = new QHBoxLayout;
    top->addWidget(label_, 1);
    top->addWidget(button_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(pane_);
    layout->addStretch(1);
}

void TPicturePreview::ShowFile(const QString& path) {
    path_ = path;
    TBitmap picture;
    bool loaded = QFileInfo(path).isFile() &&
                  LoadPictureFileQuiet(picture, path.toStdString()) == FileOutcome::Done &&
                  !picture.IsEmpty();
    image_->Picture().ShareImage(picture);
    button_->setEnabled(loaded);
    if (!loaded) {
        label_->setText("Bild:");
        image_->resize(0, 0);
        return;
    }
    label_->setText(QString::asprintf(" (%dx%d)", picture.Width(), picture.Height()));
    QSize shown = FitInside(QSize(picture.Width(), picture.Height()), QSize(kPaneSize, kPaneSize));
    int inset = static_cast<QFrame*>(pane_)->frameWidth();
    image_->setGeometry(inset + (kPaneSize - shown.width()) / 2,
                        inset + (kPaneSize - shown.height()) / 2, shown.width(), shown.height());
}

QString TPicturePreview::LabelText() const { return label_->text(); }

bool TPicturePreview::PreviewEnabled() const { return button_->isEnabled(); }

QSize TPicturePreview::ShownSize() const { return image_->size(); }

const TBitmap& TPicturePreview::Picture() const { return image_->Picture(); }

void TPicturePreview::ShowFullSize() {
    if (image_->Picture().IsEmpty()) return;
    TPreviewWindow window(image_->Picture(), QFileInfo(path_).fileName());
    window.ShowModal();
}

}  // namespace sigillon
