#include "Vessora/Sheets/SummaryGrid.hpp"

#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/ElidedSelectableText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QGridLayout>
#include <QLabel>

namespace vessora {

SummaryGrid::SummaryGrid(QWidget* parent) : QWidget(parent), grid_(new QGridLayout(this)) {
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setHorizontalSpacing(16);
    grid_->setVerticalSpacing(9);
    grid_->setColumnStretch(1, 1);
}

void SummaryGrid::setRows(const std::vector<MigrationDraft::Row>& rows) {
    while (labels_.size() < rows.size()) {
        const int row = static_cast<int>(labels_.size());
        auto* label = new QLabel(this);
        label->setObjectName(QString("summaryLabel%1").arg(row));
        label->setTextFormat(Qt::PlainText);
        FormStyle::makeSecondary(label);
        auto* value = new ElidedSelectableText(this);
        value->setObjectName(QString("summaryValue%1").arg(row));
        grid_->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignTop);
        grid_->addWidget(value, row, 1);
        labels_.push_back(label);
        values_.push_back(value);
    }
    for (std::size_t i = 0; i < labels_.size(); ++i) {
        const bool shown = i < rows.size();
        labels_[i]->setVisible(shown);
        values_[i]->setVisible(shown);
        if (!shown)
            continue;
        labels_[i]->setText(toQt(L10n::text(rows[i].label)));
        values_[i]->setFullText(toQt(rows[i].value));
    }
}

std::vector<MigrationDraft::Row> SummaryGrid::shownRows() const {
    std::vector<MigrationDraft::Row> rows;
    for (std::size_t i = 0; i < labels_.size(); ++i)
        if (!labels_[i]->isHidden())
            rows.push_back({fromQt(labels_[i]->text()), fromQt(values_[i]->fullText())});
    return rows;
}

} // namespace vessora
