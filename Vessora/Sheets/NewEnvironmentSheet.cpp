#include "Vessora/Sheets/NewEnvironmentSheet.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/LocalAddressField.hpp"
#include "Vessora/Controls/PackagePicker.hpp"
#include "Vessora/Controls/PickerRow.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Controls/WebDirectoryField.hpp"
#include "Vessora/Sheets/NewEnvironmentDraft.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vessora {

namespace {

constexpr int margin = 20;

// Sets the text unless the field already shows it: replacing equal text
// would move the cursor of a field the user is typing in.
void showText(QLineEdit* field, const std::string& text) {
    const QString wanted = toQt(text);
    if (field->text() != wanted)
        field->setText(wanted);
}

QLabel* makeMessage(QWidget* parent, const char* objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    FormStyle::makeSmall(label);
    FormStyle::makeWarning(label);
    FormStyle::makeWrapping(label);
    return label;
}

} // namespace

NewEnvironmentSheet::NewEnvironmentSheet(AppModel& model, AppPreferences& preferences,
                                         QWidget* parent)
    : QDialog(parent), model_(model), draft_(new NewEnvironmentDraft(this)) {
    setObjectName("newEnvironmentSheet");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    build(preferences);
    connectSignals(preferences);
    render();
}

void NewEnvironmentSheet::build(AppPreferences& preferences) {
    auto* content = new QWidget(this);
    content->setFixedWidth(contentWidth);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    title_ = new QLabel(content);
    title_->setObjectName("sheetTitle");
    FormStyle::makeHeading(title_);
    column->addWidget(title_);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);

    name_ = new QLineEdit(content);
    name_->setObjectName("nameField");
    addRow(grid, name_);

    webserver_ =
        new PackagePicker(model_, preferences, "Web server", PackageFamily::webserver, content);
    webserver_->setObjectName("webserverPicker");
    https_ = new QCheckBox(content);
    https_->setObjectName("httpsBox");
    addRow(grid, PickerRow::make(content, webserver_, https_));

    php_ = new PackagePicker(model_, preferences, "PHP", PackageFamily::php, content);
    php_->setObjectName("phpPicker");
    addRow(grid, php_);

    mariaDB_ = new PackagePicker(model_, preferences, "MariaDB", PackageFamily::mariaDB, content);
    mariaDB_->setObjectName("mariaDBPicker");
    phpMyAdmin_ = new QCheckBox(content);
    phpMyAdmin_->setObjectName("phpMyAdminBox");
    addRow(grid, PickerRow::make(content, mariaDB_, phpMyAdmin_));

    localAddress_ = new LocalAddressField(preferences, content);
    localAddress_->setObjectName("localAddressField");
    QLabel* hostnameLabel = addRow(grid, localAddress_);
    // The label stands beside the text field, not beside the lines below it.
    grid->setAlignment(hostnameLabel, Qt::AlignLeft | Qt::AlignTop);
    hostnameLabel->setFixedHeight(localAddress_->lineEdit()->sizeHint().height());

    webDirectory_ = new WebDirectoryField(preferences, content);
    webDirectory_->setObjectName("webDirectoryField");
    addRow(grid, webDirectory_);

    databaseName_ = new QLineEdit(content);
    databaseName_->setObjectName("databaseField");
    addRow(grid, databaseName_);

    for (QWidget* control :
         std::initializer_list<QWidget*>{name_, https_, phpMyAdmin_, databaseName_})
        FormStyle::makeSmall(control);
    https_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    phpMyAdmin_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto* messages = new QVBoxLayout;
    messages->setSpacing(4);
    hostnameMessage_ = makeMessage(content, "hostnameInvalidMessage");
    nameInUseMessage_ = makeMessage(content, "nameInUseMessage");
    databaseMessage_ = makeMessage(content, "databaseNameMessage");
    messages->addWidget(hostnameMessage_);
    messages->addWidget(nameInUseMessage_);
    messages->addWidget(databaseMessage_);
    column->addLayout(messages);

    note_ = new QLabel(content);
    note_->setObjectName("portsNote");
    FormStyle::makeCaption(note_);
    FormStyle::makeSecondary(note_);
    FormStyle::makeWrapping(note_);
    column->addWidget(note_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancel_ = new QPushButton(content);
    cancel_->setObjectName("cancelButton");
    cancel_->setAutoDefault(false);
    create_ = new QPushButton(content);
    create_->setObjectName("createButton");
    FormStyle::makeSmall(cancel_);
    FormStyle::makeSmall(create_);
    FormStyle::makeProminent(create_);
    buttons->addWidget(cancel_);
    buttons->addWidget(create_);
    column->addLayout(buttons);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(margin, margin, margin, margin);
    outer->addWidget(content);
    // The sheet is as tall as its content, also while messages come and go.
    outer->setSizeConstraint(QLayout::SetFixedSize);
}

QLabel* NewEnvironmentSheet::addRow(QGridLayout* grid, QWidget* control) {
    const int row = static_cast<int>(rowLabels_.size());
    auto* label = new QLabel(control->parentWidget());
    FormStyle::makeSmall(label);
    FormStyle::makeSecondary(label);
    grid->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(control, row, 1);
    rowLabels_.push_back(label);
    return label;
}

void NewEnvironmentSheet::connectSignals(AppPreferences& preferences) {
    connect(name_, &QLineEdit::textEdited, draft_,
            [this](const QString& text) { draft_->setName(fromQt(text)); });
    connect(databaseName_, &QLineEdit::textEdited, draft_,
            [this](const QString& text) { draft_->setDatabaseName(fromQt(text)); });
    connect(webserver_, &PackagePicker::selectionEdited, draft_,
            [this](const QString& formula) { draft_->setWebserver(fromQt(formula)); });
    connect(php_, &PackagePicker::selectionEdited, draft_,
            [this](const QString& formula) { draft_->setPHP(fromQt(formula)); });
    connect(mariaDB_, &PackagePicker::selectionEdited, draft_,
            [this](const QString& formula) { draft_->setMariaDB(fromQt(formula)); });
    connect(https_, &QCheckBox::clicked, draft_,
            [this](bool checked) { draft_->setHTTPSEnabled(checked); });
    connect(phpMyAdmin_, &QCheckBox::clicked, draft_,
            [this](bool checked) { draft_->setPhpMyAdminEnabled(checked); });
    connect(localAddress_, &LocalAddressField::valueEdited, draft_,
            [this] { draft_->setLocalAddress(localAddress_->value()); });
    connect(webDirectory_, &WebDirectoryField::pathEdited, draft_,
            [this] { draft_->setDocumentRoot(webDirectory_->path()); });

    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(create_, &QPushButton::clicked, this, &NewEnvironmentSheet::create);
    connect(this, &QDialog::finished, &model_, [model = &model_] { model->setShowCreate(false); });

    connect(draft_, &NewEnvironmentDraft::changed, this, &NewEnvironmentSheet::render);
    connect(&model_, &AppModel::profilesChanged, this, &NewEnvironmentSheet::render);
    connect(&model_, &AppModel::busyChanged, this, &NewEnvironmentSheet::render);
    connect(&preferences, &AppPreferences::changed, this, &NewEnvironmentSheet::render);
    connect(&model_, &AppModel::sheetsChanged, this, [this] {
        if (!model_.showCreate() && isVisible())
            reject();
    });
}

void NewEnvironmentSheet::render() {
    setWindowTitle(toQt(L10n::text("New environment")));
    title_->setText(toQt(L10n::text("New environment")));
    const std::vector<std::string> labels = {L10n::text("Name"),     L10n::text("Web server"),
                                             L10n::text("PHP"),      L10n::text("MariaDB"),
                                             L10n::text("Hostname"), L10n::text("Web folder"),
                                             L10n::text("Database")};
    for (std::size_t i = 0; i < rowLabels_.size() && i < labels.size(); ++i)
        rowLabels_[i]->setText(toQt(labels[i]));

    const NewEnvironmentDraft& draft = *draft_;
    showText(name_, draft.name());
    name_->setPlaceholderText(toQt(L10n::text("e.g. Client portal")));
    name_->setAccessibleName(toQt(L10n::text("Environment name")));

    webserver_->setSelection(draft.webserver());
    php_->setSelection(draft.php());
    mariaDB_->setSelection(draft.mariaDB());
    {
        const QSignalBlocker blockHTTPS(https_);
        const QSignalBlocker blockPhpMyAdmin(phpMyAdmin_);
        https_->setChecked(draft.httpsEnabled());
        phpMyAdmin_->setChecked(draft.phpMyAdminEnabled());
    }
    https_->setText(toQt(L10n::text("HTTPS")));
    https_->setToolTip(toQt(L10n::text("Creates a self-signed certificate and assigns a free HTTPS "
                                       "port. Browsers need a separate trust step. HTTP stays "
                                       "available.")));
    phpMyAdmin_->setText(toQt(L10n::text("phpMyAdmin")));
    phpMyAdmin_->setToolTip(
        toQt(L10n::text("Manage this environment’s MariaDB databases in your browser.")));

    localAddress_->setValue(draft.localAddress());
    webDirectory_->setPath(draft.documentRoot());
    showText(databaseName_, draft.databaseName());
    databaseName_->setPlaceholderText(toQt(L10n::text("Database name")));

    const auto& profiles = model_.profiles();
    hostnameMessage_->setText(toQt(L10n::text("Choose a valid, unused local hostname.")));
    hostnameMessage_->setVisible(!draft.validHostname(profiles));
    nameInUseMessage_->setText(toQt(L10n::text("This name is already in use.")));
    nameInUseMessage_->setVisible(draft.nameInUse(profiles));
    databaseMessage_->setText(
        toQt(L10n::text("Use 1–64 letters, numbers, underscores or hyphens for the database "
                        "name. Start with a letter or underscore. System names are reserved.")));
    databaseMessage_->setVisible(!draft.validDatabaseName());
    note_->setText(toQt(
        L10n::text("Free ports are assigned automatically. You can change these settings later.")));

    cancel_->setText(toQt(L10n::text("Cancel")));
    create_->setText(toQt(L10n::text("Create environment")));
    create_->setEnabled(draft.canCreate(profiles, model_.busy()));
}

void NewEnvironmentSheet::create() {
    if (!draft_->canCreate(model_.profiles(), model_.busy()))
        return;
    // Plain values only: the sheet and its draft are gone before the engine
    // runs.
    const NewEnvironmentDraft::Request request = draft_->request();
    AppModel& model = model_;
    model.setShowCreate(false);
    if (isVisible())
        accept();
    model.perform(L10n::text("Creating %@…", {request.name}), true, [request](AppEngine& engine) {
        engine.create(request.name, request.php, request.mariaDB, request.phpMyAdminEnabled,
                      request.webserver, request.httpsEnabled, request.documentRoot,
                      request.databaseName, request.hostname, request.virtualHost,
                      request.standardPorts);
    });
}

} // namespace vessora
