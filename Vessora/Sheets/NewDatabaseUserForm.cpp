#include "Vessora/Sheets/NewDatabaseUserForm.hpp"

#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Controls/WheelGuard.hpp"
#include "Vessora/Sheets/DatabaseSecretFields.hpp"
#include "Vessora/Sheets/DatabaseSheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>

#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <utility>

#include <algorithm>

namespace vessora {

namespace Style = DatabaseSheetStyle;

NewDatabaseUserForm::NewDatabaseUserForm(DatabaseManagerDraft& draft, QWidget* parent)
    : DatabaseManagerForm(draft, parent) {
    setObjectName("newUserForm");
    name_ = new QLineEdit(this);
    name_->setObjectName("userNameField");
    fields()->addWidget(name_);
    note_ = new QLabel(this);
    FormStyle::makeCaption(note_);
    FormStyle::makeSecondary(note_);
    FormStyle::makeWrapping(note_);
    fields()->addWidget(note_);
    secrets_ = new DatabaseSecretFields(draft, this);
    fields()->addWidget(secrets_);
    auto* pickers = new QFormLayout();
    pickers->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    pickers->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    databaseLabel_ = new QLabel(this);
    database_ = new QComboBox(this);
    database_->setObjectName("databasePicker");
    // Long database names must not squeeze the labels.
    database_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    database_->setMinimumContentsLength(12);
    WheelGuard::guard(database_);
    pickers->addRow(databaseLabel_, database_);
    accessLabel_ = new QLabel(this);
    access_ = new QComboBox(this);
    access_->setObjectName("accessPicker");
    access_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    access_->setMinimumContentsLength(12);
    WheelGuard::guard(access_);
    for (const DatabaseAccess level : DatabaseAccessLevels::assignable())
        access_->addItem({}, static_cast<int>(level));
    pickers->addRow(accessLabel_, access_);
    // A label as tall as its picker, so its text sits on the picker's middle.
    for (auto [label, picker] : {std::pair{databaseLabel_, database_}, {accessLabel_, access_}}) {
        label->setMinimumHeight(picker->sizeHint().height());
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    fields()->addLayout(pickers);

    connect(name_, &QLineEdit::textEdited, this,
            [this](const QString& text) { this->draft().setUserName(text.toStdString()); });
    connect(database_, &QComboBox::activated, this, [this](int) {
        this->draft().setInitialDatabase(database_->currentData().toString().toStdString());
    });
    connect(access_, &QComboBox::activated, this, [this](int) {
        this->draft().setInitialAccess(static_cast<DatabaseAccess>(access_->currentData().toInt()));
    });
}

void NewDatabaseUserForm::render() {
    name_->setPlaceholderText(toQt(L10n::text("User name")));
    Style::syncText(name_, draft().userName());
    note_->setText(toQt(
        L10n::text("This account connects through 127.0.0.1 on the environment’s database port.")));
    secrets_->render();
    databaseLabel_->setText(toQt(L10n::text("Database")));
    accessLabel_->setText(toQt(L10n::text("Access")));
    {
        // The manageable databases; a chosen name outside them (such as an
        // environment database that fails the name rule) is shown too, since
        // it is what the form sends.
        std::vector<std::string> options;
        for (const ManagedDatabase& database : draft().manageableDatabases())
            options.push_back(database.name);
        const std::string& chosen = draft().initialDatabase();
        if (!chosen.empty() && std::find(options.begin(), options.end(), chosen) == options.end())
            options.push_back(chosen);
        const QSignalBlocker blocker(database_);
        if (options != databaseOptions_) {
            database_->clear();
            for (const std::string& name : options)
                database_->addItem(toQt(name), toQt(name));
            databaseOptions_ = options;
        }
        database_->setCurrentIndex(database_->findData(toQt(chosen)));
    }
    {
        const QSignalBlocker blocker(access_);
        for (int index = 0; index < access_->count(); ++index)
            access_->setItemText(index, toQt(L10n::text(rawValue(static_cast<DatabaseAccess>(
                                            access_->itemData(index).toInt())))));
        access_->setCurrentIndex(access_->findData(static_cast<int>(draft().initialAccess())));
    }
    renderFrame(L10n::text("New user"), L10n::text("Create user"), draft().canCreateUser());
}

void NewDatabaseUserForm::cancel() {
    draft().setShowUser(false);
}

void NewDatabaseUserForm::submit() {
    draft().createUser();
}

} // namespace vessora
