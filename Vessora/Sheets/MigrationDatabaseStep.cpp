#include "Vessora/Sheets/MigrationDatabaseStep.hpp"

#include "Vessora/App/FileChooser.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "Vessora/Sheets/ElidedSelectableText.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationSheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

namespace Style = MigrationSheetStyle;

MigrationDatabaseStep::MigrationDatabaseStep(MigrationDraft& draft, QWidget* parent)
    : QWidget(parent), draft_(draft) {
    QVBoxLayout* column = Style::column(this);
    QGridLayout* form = Style::form(column);
    databaseTitle_ = Style::rowTitle(this, "databaseTitle");
    databaseName_ = Style::lineEdit(this, "databaseField");
    Style::addRow(form, databaseTitle_, databaseName_);
    databaseNote_ = Style::caption(this, "databaseNote");
    Style::addRow(form, nullptr, databaseNote_);
    databaseMessage_ = Style::warning(this, "databaseNameMessage");
    Style::addRow(form, nullptr, databaseMessage_);

    auto* row = new QHBoxLayout;
    sqlTitle_ = Style::rowTitle(this, "sqlTitle");
    choose_ = Style::button(this, "chooseSQLButton");
    choose_->setIcon(Icons::symbolic("text-x-generic", palette().color(QPalette::ButtonText)));
    remove_ = Style::button(this, "removeSQLButton");
    remove_->setFlat(true);
    row->addWidget(choose_, 0, Qt::AlignVCenter);
    row->addWidget(remove_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    Style::addRow(form, sqlTitle_, row);
    dump_ = Style::pathLine(this, "sqlPath");
    Style::addRow(form, nullptr, dump_);
    dumpNote_ = Style::caption(this, "sqlNote");
    Style::addRow(form, nullptr, dumpNote_);
    mappingNote_ = Style::caption(this, "mappingNote");
    Style::addRow(form, nullptr, mappingNote_);

    connect(databaseName_, &QLineEdit::textEdited, &draft_,
            [this](const QString& text) { draft_.setDatabaseName(fromQt(text)); });
    connect(choose_, &QPushButton::clicked, this, &MigrationDatabaseStep::chooseDump);
    connect(remove_, &QPushButton::clicked, &draft_, [this] { draft_.setSQL(std::nullopt); });
}

void MigrationDatabaseStep::render() {
    databaseTitle_->setText(toQt(L10n::text("Database")));
    sqlTitle_->setText(toQt(L10n::text("SQL file")));
    DatabaseSheetStyle::syncText(databaseName_, draft_.databaseName());
    databaseName_->setPlaceholderText(toQt(L10n::text("Database name")));
    databaseName_->setAccessibleName(databaseName_->placeholderText());
    databaseNote_->setText(
        toQt(L10n::text("A fresh database is created with this name. The name is fixed after "
                        "creation; the password can be changed in DB credentials.")));
    databaseMessage_->setText(
        toQt(L10n::text("Use 1–64 letters, numbers, underscores or hyphens for the database "
                        "name. Start with a letter or underscore. System names are reserved.")));
    databaseMessage_->setVisible(!draft_.validDatabaseName());

    const bool chosen = draft_.sql().has_value();
    choose_->setText(DatabaseSheetStyle::buttonText(L10n::text("Choose SQL file…")));
    remove_->setText(DatabaseSheetStyle::buttonText(L10n::text("Remove")));
    remove_->setVisible(chosen);
    dump_->setVisible(chosen);
    dump_->setFullText(toQt(draft_.sql().value_or("")));
    dumpNote_->setText(toQt(L10n::text("Optional: one uncompressed .sql export, up to 512 MB. "
                                       "Without a file, the database starts empty.")));
    mappingNote_->setText(toQt(L10n::text(
        "CREATE DATABASE and USE are mapped to the chosen name. Fully qualified table names "
        "must already match. Server users, system databases and incompatible DEFINER clauses "
        "are not imported.")));
}

void MigrationDatabaseStep::chooseDump() {
    QPointer<MigrationDraft> draft(&draft_);
    FileChooser::current().chooseFile(window(), toQt(L10n::text("Choose SQL file…")),
                                      {QStringLiteral("SQL (*.sql *.SQL)")}, draft_.sql(),
                                      [draft](std::optional<std::filesystem::path> chosen) {
                                          // A cancelled chooser changes nothing.
                                          if (draft && chosen)
                                              draft->setSQL(chosen->string());
                                      });
}

} // namespace vessora
