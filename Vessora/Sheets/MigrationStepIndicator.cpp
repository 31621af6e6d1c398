#include "Vessora/Sheets/MigrationStepIndicator.hpp"

#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>

namespace vessora {

MigrationStepIndicator::MigrationStepIndicator(std::vector<std::string> titles, QWidget* parent)
    : QWidget(parent), titles_(std::move(titles)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    // Tertiary: fainter than the dimmed labels.
    QColor faint = QApplication::palette().color(QPalette::WindowText);
    faint.setAlphaF(0.35f);
    for (std::size_t i = 0; i < titles_.size(); ++i) {
        auto* item = new QLabel(this);
        item->setObjectName(QString("stepItem%1").arg(i));
        item->setTextFormat(Qt::PlainText);
        row->addWidget(item, 0, Qt::AlignVCenter);
        items_.push_back(item);
        if (i + 1 == titles_.size())
            break;
        auto* chevron = new QLabel(this);
        chevron->setObjectName(QString("stepChevron%1").arg(i));
        chevron->setPixmap(Icons::symbolic("go-next", faint).pixmap(8, 8));
        row->addWidget(chevron, 0, Qt::AlignVCenter);
    }
    row->addStretch(1);
}

void MigrationStepIndicator::render(int current) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        QLabel* item = items_[i];
        item->setText(QString::number(i + 1) + ". " + toQt(L10n::text(titles_[i])));
        const bool now = static_cast<int>(i) == current;
        FormStyle::makeCaption(item);
        QFont font = item->font();
        font.setWeight(now ? QFont::DemiBold : QFont::Normal);
        item->setFont(font);
        if (now)
            item->setPalette(QApplication::palette());
        else
            FormStyle::makeSecondary(item);
    }
}

std::vector<QString> MigrationStepIndicator::items() const {
    std::vector<QString> texts;
    for (const QLabel* item : items_)
        texts.push_back(item->text());
    return texts;
}

} // namespace vessora
