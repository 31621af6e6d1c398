#include "Vessora/Sheets/MigrationRuntimeStep.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/PackagePicker.hpp"
#include "Vessora/Controls/PickerRow.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/MigrationDraft.hpp"
#include "Vessora/Sheets/MigrationSheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vessora {

namespace {

QCheckBox* checkBox(QWidget* parent, const char* objectName) {
    auto* box = new QCheckBox(parent);
    box->setObjectName(objectName);
    FormStyle::makeSmall(box);
    return box;
}

} // namespace

MigrationRuntimeStep::MigrationRuntimeStep(AppModel& model, AppPreferences& preferences,
                                           MigrationDraft& draft, QWidget* parent)
    : QWidget(parent), model_(model), draft_(draft) {
    QVBoxLayout* column = MigrationSheetStyle::column(this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);

    webserver_ =
        new PackagePicker(model_, preferences, "Web server", PackageFamily::webserver, this);
    webserver_->setObjectName("webserverPicker");
    https_ = checkBox(this, "httpsBox");
    php_ = new PackagePicker(model_, preferences, "PHP", PackageFamily::php, this);
    php_->setObjectName("phpPicker");
    mariaDB_ = new PackagePicker(model_, preferences, "MariaDB", PackageFamily::mariaDB, this);
    mariaDB_->setObjectName("mariaDBPicker");
    phpMyAdmin_ = checkBox(this, "phpMyAdminBox");
    const std::vector<QWidget*> controls{PickerRow::make(this, webserver_, https_), php_,
                                         PickerRow::make(this, mariaDB_, phpMyAdmin_)};
    for (std::size_t row = 0; row < controls.size(); ++row) {
        auto* label = new QLabel(this);
        FormStyle::makeSmall(label);
        grid->addWidget(label, static_cast<int>(row), 0, Qt::AlignLeft | Qt::AlignVCenter);
        grid->addWidget(controls[row], static_cast<int>(row), 1, Qt::AlignLeft | Qt::AlignVCenter);
        rowLabels_.push_back(label);
    }

    note_ = MigrationSheetStyle::caption(this, "runtimeNote");
    column->addWidget(note_);
    missing_ = MigrationSheetStyle::caption(this, "missingPackages");
    column->addWidget(missing_);
    installMissing_ = checkBox(this, "installMissingBox");
    column->addWidget(installMissing_, 0, Qt::AlignLeft);
    runningWarning_ = MigrationSheetStyle::warning(this, "stopEnvironmentsMessage");
    column->addWidget(runningWarning_);

    connect(webserver_, &PackagePicker::selectionEdited, &draft_,
            [this](const QString& formula) { draft_.setWebserver(fromQt(formula)); });
    connect(php_, &PackagePicker::selectionEdited, &draft_,
            [this](const QString& formula) { draft_.setPHP(fromQt(formula)); });
    connect(mariaDB_, &PackagePicker::selectionEdited, &draft_,
            [this](const QString& formula) { draft_.setMariaDB(fromQt(formula)); });
    connect(https_, &QCheckBox::clicked, &draft_, [this](bool on) { draft_.setHTTPS(on); });
    connect(phpMyAdmin_, &QCheckBox::clicked, &draft_,
            [this](bool on) { draft_.setPhpMyAdmin(on); });
    connect(installMissing_, &QCheckBox::clicked, &draft_,
            [this](bool on) { draft_.setInstallMissing(on); });
}

void MigrationRuntimeStep::render() {
    const std::vector<std::string> labels{L10n::text("Web server"), L10n::text("PHP"),
                                          L10n::text("MariaDB")};
    for (std::size_t i = 0; i < rowLabels_.size(); ++i)
        rowLabels_[i]->setText(toQt(labels[i]));
    webserver_->setSelection(draft_.webserver());
    php_->setSelection(draft_.php());
    mariaDB_->setSelection(draft_.mariaDB());
    {
        const QSignalBlocker blockHTTPS(https_);
        const QSignalBlocker blockPhpMyAdmin(phpMyAdmin_);
        const QSignalBlocker blockInstall(installMissing_);
        https_->setChecked(draft_.https());
        phpMyAdmin_->setChecked(draft_.phpMyAdmin());
        installMissing_->setChecked(draft_.installMissing());
    }
    https_->setText(toQt(L10n::text("HTTPS")));
    phpMyAdmin_->setText(toQt(L10n::text("phpMyAdmin")));
    note_->setText(toQt(L10n::text(
        "Choose versions compatible with the source project. SQL collations, routines and PHP "
        "extensions may need adjustments. Free ports are assigned automatically.")));

    const std::vector<std::string> missing = draft_.missing(model_.installed());
    std::string joined;
    for (const std::string& formula : missing)
        joined += (joined.empty() ? "" : ", ") + formula;
    missing_->setVisible(!missing.empty());
    missing_->setText(toQt(L10n::text("Missing packages: %@", {joined})));
    installMissing_->setVisible(!missing.empty());
    installMissing_->setText(toQt(L10n::text("Install missing packages with Homebrew")));
    runningWarning_->setVisible(!missing.empty() && model_.anyRunning());
    runningWarning_->setText(toQt(L10n::text("Stop all environments before installing packages.")));
}

} // namespace vessora
