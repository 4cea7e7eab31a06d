#include "app/toolkit/desktop.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QUrl>
#include <algorithm>
#include <atomic>

#include "app/toolkit/application.h"
#include "app/toolkit/picture_dialog.h"
#include "app/toolkit/picture_preview.h"

namespace sigillon {
namespace {

RealDesktop realDesktop;
std::atomic<TDesktopServices*> installed{nullptr};

// "*.*" means every file where the file types come from; here it would hide
// names without a dot, and in a save dialog Qt would even put "*" in place
// of the typed extension. Qt is given "*" for it; the list shows the text
// of the definition.
QString QtPattern(const QString& pattern) { return pattern == "*.*" ? QString("*") : pattern; }

QString QtNameFilter(const TFileType& type) {
    QString description = type.description;
    QString shown = " (" + type.pattern + ")";
    if (description.endsWith(shown)) description.chop(shown.size());
    return description + " (" + QtPattern(type.pattern) + ")";
}

}  // namespace

TDesktopServices& Desktop() {
    TDesktopServices* services = installed.load();
    return services ? *services : realDesktop;
}

TDesktopServices* InstallDesktopServices(TDesktopServices* services) {
    return installed.exchange(services);
}

std::optional<TDialogAnswer> RealDesktop::RunPictureDialog(const TPictureDialog& dialog,
                                                           QWidget* owner) {
    // Qt's own dialog, not the platform's, so that it carries the preview
    // pane and behaves the same everywhere (and can be driven by synthetic
    // input).
    QFileDialog box(owner, dialog.Title);
    box.setOption(QFileDialog::DontUseNativeDialog, true);
    bool save = dialog.Kind == TDialogKind::Save;
    box.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // An open dialog takes a typed name of a file that does not exist too:
    // the program tries it and says why it failed. Qt's ExistingFile mode
    // would refuse it in the dialog; AnyFile in open mode keeps the Open
    // button and asks nothing.
    box.setFileMode(QFileDialog::AnyFile);
    box.setOption(QFileDialog::DontConfirmOverwrite, !(save && dialog.OverwritePrompt));
    if (!dialog.DefaultExt.isEmpty()) box.setDefaultSuffix(dialog.DefaultExt);

    QStringList filters;
    for (const TFileType& type : dialog.Filter) filters << QtNameFilter(type);
    if (filters.isEmpty()) filters << "*";
    box.setNameFilters(filters);
    int index = std::clamp(dialog.FilterIndex, 1, int(filters.size()));
    box.selectNameFilter(filters[index - 1]);
    // Qt looks the filter up by the text in the list, so the definition's
    // texts go in only after it has been selected.
    if (auto* types = box.findChild<QComboBox*>("fileTypeCombo")) {
        for (int i = 0; i < int(dialog.Filter.size()) && i < types->count(); ++i)
            types->setItemText(i, dialog.Filter[std::size_t(i)].description);
    }
    if (!dialog.FileName.isEmpty()) box.selectFile(dialog.FileName);

    auto* preview = new TPicturePreview(&box);
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(&box, &QFileDialog::currentChanged, preview,
                     [preview](const QString& path) { Guard([&] { preview->ShowFile(path); }); });

    if (box.exec() != QDialog::Accepted) return std::nullopt;
    QStringList chosen = box.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    TDialogAnswer answer;
    answer.fileName = chosen.front();
    int picked = 1;
    if (auto* types = box.findChild<QComboBox*>("fileTypeCombo"))
        picked = types->currentIndex() + 1;
    else
        picked = int(filters.indexOf(box.selectedNameFilter())) + 1;
    answer.filterIndex = std::max(1, picked);
    return answer;
}

void RealDesktop::ShowMessage(const QString& text) { ShowPlainMessageBox(text); }

void RealDesktop::ShowErrorBox(const QString& text) { ShowErrorMessageBox(text); }

void RealDesktop::ProcessMessages() {
    // A pass asks after every row, thousands of times a second on a big
    // photo, and each dispatch asks the window system for events. Nobody can
    // tell a dispatch every millisecond from one every row, and it keeps the
    // dispatching to a few percent of the stamping.
    auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ < std::chrono::milliseconds(1)) return;
    sigillon::ProcessMessages();
    lastPump_ = std::chrono::steady_clock::now();
}

void RealDesktop::ShellOpen(const QString& target) {
    QDesktopServices::openUrl(QUrl::fromUserInput(target));
}

}  // namespace sigillon
