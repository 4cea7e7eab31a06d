#include "app/toolkit/design.h"

#include <QColor>
#include <QFile>
#include <QPalette>
#include <QVariant>
#include <QWidget>
#include <cstdlib>

#include "pictures/bmp/bmp.h"

namespace sigillon {

QFont DesignFont(const QString& definition) {
    QStringList parts = definition.split(',', Qt::SkipEmptyParts);
    QString name = parts.value(0).trimmed();
    QStringList families;
    if (!name.isEmpty() && name != "MS Sans Serif" && name != "System") families << name;
    families << "DejaVu Sans" << "WenQuanYi Micro Hei";

    QFont font;
    font.setFamilies(families);
    bool ok = false;
    int height = parts.value(1).trimmed().toInt(&ok);
    if (ok && height != 0) font.setPixelSize(std::abs(height));
    for (qsizetype i = 2; i < parts.size(); ++i) {
        QString style = parts[i].trimmed();
        if (style == "bold") font.setBold(true);
        if (style == "underline") font.setUnderline(true);
    }
    return font;
}

void ApplyDesignFonts(QWidget* root) {
    // Parents first, so a child's own font wins over the one it inherits.
    QList<QWidget*> widgets{root};
    widgets += root->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        QVariant font = widget->property("designFont");
        if (font.isValid()) widget->setFont(DesignFont(font.toString()));
        QVariant colour = widget->property("fontColor");
        if (colour.isValid()) {
            QPalette palette = widget->palette();
            QColor c = QColor::fromString(colour.toString());
            palette.setColor(QPalette::WindowText, c);
            palette.setColor(QPalette::Text, c);
            palette.setColor(QPalette::ButtonText, c);
            widget->setPalette(palette);
        }
    }
}

std::unique_ptr<TBitmap> LoadResourceBitmap(const QString& path) {
    auto picture = std::make_unique<TBitmap>();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return picture;
    QByteArray bytes = file.readAll();
    try {
        ReadBmpData(*picture, reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                    std::size_t(bytes.size()));
    } catch (const BitmapError&) {
        // An unreadable glyph leaves the picture empty; the window still works.
    }
    return picture;
}

QString LoadResourceText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

}  // namespace sigillon
