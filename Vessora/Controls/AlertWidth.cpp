#include "Vessora/Controls/AlertWidth.hpp"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QString>

namespace vessora::AlertWidth {

namespace {

constexpr int messageWidth = 380;

bool hasRoom(const QGridLayout& grid) {
    for (int index = 0; index < grid.count(); ++index) {
        const QSpacerItem* spacer = grid.itemAt(index)->spacerItem();
        if (spacer && spacer->sizeHint().width() == messageWidth)
            return true;
    }
    return false;
}

} // namespace

void setMessage(QMessageBox& box, const QString& message) {
    if (box.informativeText() != message)
        box.setInformativeText(message);
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid || hasRoom(*grid))
        return;
    // The texts stand in the last column, beside the icon.
    const int textColumn = grid->columnCount() - 1;
    grid->addItem(new QSpacerItem(messageWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), textColumn, 1, 1);
}

} // namespace vessora::AlertWidth
