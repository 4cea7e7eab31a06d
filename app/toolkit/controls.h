// The plainer controls of the toolkit layer: scroll box, one-line edit
// field, up-down control and a label that reports clicks.
#pragma once

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QWidget>
#include <functional>

#include "pictures/raster/bitmap.h"

class QToolButton;

namespace sigillon {

// Scrolls over its content when that is larger than itself. The content's
// size follows the visible controls placed in it, as far as they reach to
// the right and down, so a control moved or resized in it changes the
// scroll range at once. The box is no tab stop and a click into it leaves
// the focus where it was.
class TScrollBox : public QScrollArea {
    Q_OBJECT
    Q_PROPERTY(QColor color READ Color WRITE setColor)

public:
    explicit TScrollBox(QWidget* parent = nullptr);

    QColor Color() const;
    void setColor(const QColor& colour);

    int HorzPosition() const;
    int VertPosition() const;
    void SetHorzPosition(int position);
    void SetVertPosition(int position);

    // Starts following the controls in the content widget; the form calls
    // it once its definition is built.
    void TrackContent();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateRange();
};

// A one-line edit field. The text is not selected when the field gains the
// focus; a mouse click into it (pressed and released inside) is reported.
class TEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QColor color READ Color WRITE setColor)

public:
    explicit TEdit(QWidget* parent = nullptr);

    // Background colour.
    QColor Color() const;
    void setColor(const QColor& colour);

    // Colour of the text, 0x00BBGGRR.
    TColor FontColor() const;
    void SetFontColor(TColor colour);

    std::function<void()> OnClick;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

enum class TUDBtnType { btNext, btPrev };

// Two arrows that step a position within Min and Max. A press that would
// leave the range changes nothing unless Wrap is on; a click is reported
// only when the position changed.
class TUpDown : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int min READ Min WRITE setMin)
    Q_PROPERTY(int max READ Max WRITE setMax)
    Q_PROPERTY(int position READ Position WRITE setPosition)
    Q_PROPERTY(bool wrap READ Wrap WRITE setWrap)
    Q_PROPERTY(Qt::Orientation orientation READ Orientation WRITE setOrientation)

public:
    explicit TUpDown(QWidget* parent = nullptr);

    int Min() const { return min_; }
    void setMin(int value);
    int Max() const { return max_; }
    void setMax(int value);
    int Position() const { return position_; }
    void setPosition(int value);
    bool Wrap() const { return wrap_; }
    void setWrap(bool on) { wrap_ = on; }
    Qt::Orientation Orientation() const { return orientation_; }
    void setOrientation(Qt::Orientation orientation);

    // One press of an arrow, as by the mouse.
    void Press(TUDBtnType button);

    QToolButton* NextButton() const { return next_; }
    QToolButton* PrevButton() const { return prev_; }

    std::function<void(TUDBtnType)> OnClick;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Arrange();

    QToolButton* prev_;
    QToolButton* next_;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    bool wrap_ = false;
    Qt::Orientation orientation_ = Qt::Vertical;
};

// A label that reports a click on it. With AutoSize on (as by default) it
// takes the size of its caption whenever SetCaption changes it.
class TLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool autoSize READ AutoSize WRITE setAutoSize)

public:
    explicit TLabel(QWidget* parent = nullptr);

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption);
    bool AutoSize() const { return autoSize_; }
    void setAutoSize(bool on);

    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool autoSize_ = true;
};

}  // namespace sigillon
