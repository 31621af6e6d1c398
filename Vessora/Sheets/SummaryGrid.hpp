// The two-column grid of the import wizard's review and result: per row a
// dimmed label (an English key, looked up each time rows are set) and its
// value as it is, selectable, on at most two lines and shortened in the
// middle. Rows are reused, added and hidden as the list changes.
#pragma once

#include "Vessora/Sheets/MigrationDraft.hpp"

#include <QWidget>

#include <vector>

class QGridLayout;
class QLabel;

namespace vessora {

class ElidedSelectableText;

class SummaryGrid : public QWidget {
    Q_OBJECT

public:
    explicit SummaryGrid(QWidget* parent = nullptr);

    void setRows(const std::vector<MigrationDraft::Row>& rows);
    // The rows shown, labels as looked up.
    std::vector<MigrationDraft::Row> shownRows() const;

private:
    QGridLayout* grid_;
    std::vector<QLabel*> labels_;
    std::vector<ElidedSelectableText*> values_;
};

} // namespace vessora
