#include "Vessora/Sheets/AboutBox.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/Branding.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QPushButton>
#include <QSpacerItem>

namespace vessora {

namespace {

// The box's texts are shorter than its title in some languages. A title bar
// centres the title between its buttons at both ends, in bold type: room
// for three buttons at each end, each two lines of that type wide.
int titleBarWidth(const QString& title) {
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const int buttons = 2 * 3 * 2 * QFontMetrics(font).height();
    // A window manager's title type may run up to a quarter bigger than ours.
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 1.25);
    else
        font.setPixelSize(font.pixelSize() * 5 / 4);
    return QFontMetrics(font).horizontalAdvance(title) + buttons;
}

// The width the title asks for, in the box's grid. Its type finds it again
// after a language change, and tells it from the rooms Qt keeps there.
class TitleRoom : public QSpacerItem {
public:
    explicit TitleRoom(int room)
        : QSpacerItem(room, 0, QSizePolicy::Minimum, QSizePolicy::Minimum) {}
};

} // namespace

AboutBox::AboutBox(const AppUpdates& updates, AppPreferences& preferences, QWidget* parent)
    : QMessageBox(parent), updates_(updates) {
    setObjectName("aboutBox");
    setTextFormat(Qt::PlainText);
    setIconPixmap(Branding::appIcon().pixmap(64, 64));
    ok_ = addButton(QString(), QMessageBox::AcceptRole);
    ok_->setObjectName("aboutOKButton");
    setDefaultButton(ok_);
    setEscapeButton(ok_);
    connect(&preferences, &AppPreferences::changed, this, &AboutBox::render);
    render();
}

void AboutBox::render() {
    const QString title = toQt(L10n::text("About Vessora"));
    setText(QStringLiteral("Vessora"));
    setInformativeText(toQt(L10n::text("Version %@", {updates_.currentVersion()})));
    ok_->setText(toQt(L10n::text("OK")));
    keepTitleRoom(title);
    // Last: a new title sizes the open box anew.
    setWindowTitle(title);
}

void AboutBox::keepTitleRoom(const QString& title) {
    auto* grid = qobject_cast<QGridLayout*>(layout());
    if (!grid)
        return;
    const QMargins margins = grid->contentsMargins();
    const int width = titleBarWidth(title) - margins.left() - margins.right();
    for (int index = 0; index < grid->count(); ++index) {
        if (auto* room = dynamic_cast<TitleRoom*>(grid->itemAt(index))) {
            room->changeSize(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum);
            grid->invalidate();
            return;
        }
    }
    // Across the first row, which already holds the text: no row, so no
    // spacing, of its own.
    grid->addItem(new TitleRoom(width), 0, 0, 1, grid->columnCount());
}

} // namespace vessora
