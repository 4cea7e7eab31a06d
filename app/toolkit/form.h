// TForm: a window of the program, built from its definition.
//
// Client width and height are what the program sets and reads; after every
// change of size, the program's own included, the form lays out its aligned
// controls and runs FormResize. A form shown with ShowModal blocks the other
// windows until it is hidden again. Every notification runs in the guard.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QEventLoop;

namespace sigillon {

enum class TCloseAction { caNone, caHide };

enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

class TForm : public QWidget {
    Q_OBJECT

public:
    explicit TForm(QWidget* parent = nullptr);

    int ClientWidth() const { return width(); }
    int ClientHeight() const { return height(); }
    void SetClientWidth(int width);
    void SetClientHeight(int height);
    void SetClientSize(int width, int height);

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& caption) { setWindowTitle(caption); }

    // Shows the form application-modal and returns when it is hidden again,
    // with mrCancel when it was closed.
    int ShowModal();
    bool IsShownModal() const { return modalLoop_ != nullptr; }

    // With key preview on, the form sees every character key before the
    // focused control does (FormKeyPress); a key set to 0 goes no further.
    void SetKeyPreview(bool on);

    // Centres the form on the screen the first time it is shown; later
    // showings keep wherever the user left it.
    void SetCentredOnFirstShow(bool on) { centreOnFirstShow_ = on; }

protected:
    // Completes what the definition declares beyond Qt's own properties:
    // design fonts, the "align" of controls ("alTop", "alClient"), the
    // scroll boxes' ranges and the labels sized to their captions. Called
    // once, after setupUi.
    void FinishDefinition();

    virtual void FormResize() {}
    virtual void FormShow() {}
    virtual void FormClose(TCloseAction& action) { (void)action; }
    virtual void FormKeyPress(char16_t& key) { (void)key; }

    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Resized();
    void AlignControls();
    bool PreviewKey(QWidget* receiver, QKeyEvent* event);

    int resizes_ = 0;
    QEventLoop* modalLoop_ = nullptr;
    int modalResult_ = mrNone;
    bool keyPreview_ = false;
    bool centreOnFirstShow_ = false;
    bool shownBefore_ = false;
    // The key event previewed last and where: a key that a control ignores
    // travels on to its parents, and must not be previewed again there.
    const QEvent* previewed_ = nullptr;
    QPointer<QWidget> previewedAt_;
};

}  // namespace sigillon
