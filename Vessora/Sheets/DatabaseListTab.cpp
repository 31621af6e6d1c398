#include "Vessora/Sheets/DatabaseListTab.hpp"

#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseElidedLabel.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace vessora {

namespace Style = DatabaseSheetStyle;

int DatabaseListTab::listHeight(std::size_t count) {
    return std::min(std::max(36 * static_cast<int>(std::min<std::size_t>(count, 100)), 70), 220);
}

DatabaseListTab::DatabaseListTab(DatabaseManagerDraft& draft, QWidget* parent)
    : QWidget(parent), draft_(draft) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    list_ = new QScrollArea(this);
    list_->setObjectName("databaseList");
    list_->setWidgetResizable(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* rows = new QWidget(list_);
    rowsLayout_ = new QVBoxLayout(rows);
    rowsLayout_->setContentsMargins(8, 0, 8, 0);
    rowsLayout_->setSpacing(0);
    rowsLayout_->addStretch(1);
    list_->setWidget(rows);
    layout->addWidget(list_);

    auto* footer = new QHBoxLayout();
    hint_ = new QLabel(this);
    hint_->setObjectName("databasesHint");
    FormStyle::makeCaption(hint_);
    FormStyle::makeSecondary(hint_);
    FormStyle::makeWrapping(hint_);
    footer->addWidget(hint_, 1);
    footer->addSpacing(8);
    newDatabase_ = new QPushButton(
        Icons::symbolic("list-add", palette().color(QPalette::ButtonText)), {}, this);
    newDatabase_->setObjectName("newDatabaseButton");
    newDatabase_->setAutoDefault(false);
    footer->addWidget(newDatabase_, 0, Qt::AlignVCenter);
    layout->addLayout(footer);

    connect(newDatabase_, &QPushButton::clicked, this, [this] { draft_.openNewDatabase(); });
}

void DatabaseListTab::rebuildRows(const std::vector<ManagedDatabase>& databases) {
    for (QWidget* row :
         list_->widget()->findChildren<QWidget*>("databaseRow", Qt::FindDirectChildrenOnly))
        delete row;
    for (QWidget* line :
         list_->widget()->findChildren<QWidget*>("databaseDivider", Qt::FindDirectChildrenOnly))
        delete line;
    rows_.clear();
    int at = 0;
    for (const ManagedDatabase& database : databases) {
        auto* row = new QWidget(list_->widget());
        row->setObjectName("databaseRow");
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 8, 0, 8);
        layout->setSpacing(10);
        layout->addWidget(Style::secondarySymbol("drive-harddisk", 16, row));
        auto* name = new DatabaseElidedLabel(row);
        name->setObjectName("databaseName");
        SheetStyle::makeCallout(name);
        Style::makeMedium(name);
        Style::makeSelectable(name);
        name->setFullText(toQt(database.name));
        layout->addWidget(name, 0);
        auto* primary = new QLabel(row);
        primary->setObjectName("primaryLabel");
        FormStyle::makeCaption(primary);
        FormStyle::makeSecondary(primary);
        primary->setVisible(database.isPrimary);
        layout->addWidget(primary);
        layout->addStretch(1);
        auto* tables = new QLabel(row);
        tables->setObjectName("tableCount");
        FormStyle::makeCaption(tables);
        FormStyle::makeSecondary(tables);
        layout->addWidget(tables);
        rowsLayout_->insertWidget(at++, row);
        QFrame* line = Style::divider(list_->widget());
        line->setObjectName("databaseDivider");
        rowsLayout_->insertWidget(at++, line);
        rows_.push_back({primary, tables, database});
    }
}

void DatabaseListTab::render() {
    const std::vector<ManagedDatabase> databases =
        draft_.snapshot() ? draft_.snapshot()->databases : std::vector<ManagedDatabase>();
    if (shown_ != databases) {
        rebuildRows(databases);
        shown_ = databases;
    }
    list_->setFixedHeight(listHeight(databases.size()));
    const QLocale locale(QString::fromStdString(AppLanguages::id(L10n::language())));
    for (const Row& row : rows_) {
        row.primary->setText(toQt(L10n::text("Primary")));
        row.tables->setText(toQt(L10n::text(
            "%@ tables / views",
            {locale.toString(static_cast<qlonglong>(row.database.tableCount)).toStdString()})));
    }
    hint_->setText(toQt(L10n::text("System databases are hidden. Changes affect only this "
                                   "environment’s active MariaDB version.")));
    newDatabase_->setText(Style::buttonText(L10n::text("New database…")));
    newDatabase_->setEnabled(!draft_.model().busy());
}

} // namespace vessora
