#include "Vessora/App/DesktopOpening.hpp"

#include "Vessora/App/DesktopServices.hpp"
#include "Vessora/Controls/AlertWidth.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <system_error>

namespace vessora::DesktopOpening {

namespace {

void sayRefused(QWidget* asker, const std::string& sentence) {
    // A late refusal for a sheet that has closed has no window to be said in.
    if (!asker)
        return;
    auto* box = new QMessageBox(asker->window());
    box->setObjectName("openRefusedAlert");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(toQt(L10n::text("Could not open")));
    box->setText(toQt(L10n::text("Could not open")));
    // Selectable, so the address can be copied into a browser by hand. The
    // box's own flags reach only its title line; the sentence that names the
    // address stands in a label of its own.
    constexpr Qt::TextInteractionFlags selectable =
        Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;
    box->setTextInteractionFlags(selectable);
    AlertWidth::setMessage(*box, toQt(sentence));
    for (QLabel* label : box->findChildren<QLabel*>())
        if (label->text() == box->informativeText())
            label->setTextInteractionFlags(selectable);
    QPushButton* ok = box->addButton(toQt(L10n::text("OK")), QMessageBox::AcceptRole);
    ok->setObjectName("openRefusedOKButton");
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    box->open();
}

std::string pathSentence(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return L10n::text("No file manager could open the folder %@.", {path.string()});
    return L10n::text("No application could open the file %@.", {path.string()});
}

} // namespace

void openURL(QWidget* asker, const std::string& url) {
    if (!DesktopServices::current().openURL(url))
        sayRefused(asker, L10n::text("No web browser could open %@.", {url}));
}

void openPath(QWidget* asker, const std::filesystem::path& path) {
    if (!DesktopServices::current().openPath(path))
        sayRefused(asker, pathSentence(path));
}

void showInFileManager(QWidget* asker, const std::filesystem::path& path) {
    // The refusal may come after the asking sheet closed.
    const auto refused = [asker = QPointer<QWidget>(asker), path] {
        sayRefused(asker.data(),
                   L10n::text("No file manager could show the file %@.", {path.string()}));
    };
    if (!DesktopServices::current().showInFileManager(path, refused))
        refused();
}

} // namespace vessora::DesktopOpening
