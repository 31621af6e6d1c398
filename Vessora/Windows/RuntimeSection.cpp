#include "Vessora/Windows/RuntimeSection.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/LocalAddressField.hpp"
#include "Vessora/Controls/PackagePicker.hpp"
#include "Vessora/Controls/PickerRow.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Controls/WebDirectoryField.hpp"
#include "Vessora/Windows/EditorState.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <array>

namespace vessora {

namespace {

// Sets the text unless the field already shows it: replacing equal text
// would move the cursor of a field the user is typing in.
void showText(QLineEdit* field, const std::string& text) {
    const QString wanted = toQt(text);
    if (field->text() == wanted)
        return;
    field->setText(wanted);
    // A long name shows its beginning until the user clicks into it.
    if (!field->hasFocus())
        field->setCursorPosition(0);
}

} // namespace

RuntimeSection::RuntimeSection(const EditorState& state, AppPreferences& preferences,
                               QWidget* parent)
    : EditorSection(preferences, "Runtime", parent), state_(state),
      httpsSeen_(state.draft().profile().httpsEnabled) {
    setObjectName("runtimeSection");
    // A locked form greys its hints too, so an empty field never reads as
    // filled in.
    QPalette hints = palette();
    hints.setColor(QPalette::Disabled, QPalette::PlaceholderText,
                   hints.color(QPalette::Disabled, QPalette::Text));
    setPalette(hints);
    build(preferences);
    connectControls();
}

void RuntimeSection::build(AppPreferences& preferences) {
    auto* body = new QWidget(this);
    grid_ = new QGridLayout(body);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setHorizontalSpacing(12);
    grid_->setVerticalSpacing(10);
    grid_->setColumnStretch(1, 1);
    contentLayout()->addWidget(body);
    AppModel& model = state_.model();

    name_ = new QLineEdit(body);
    name_->setObjectName("nameField");
    FormStyle::makeSmall(name_);
    addRow(name_);

    webserver_ =
        new PackagePicker(model, preferences, "Web server", PackageFamily::webserver, body);
    webserver_->setObjectName("webserverPicker");
    https_ = new QCheckBox(body);
    https_->setObjectName("httpsBox");
    addRow(PickerRow::make(body, webserver_, https_));

    php_ = new PackagePicker(model, preferences, "PHP", PackageFamily::php, body);
    php_->setObjectName("phpPicker");
    addRow(php_);

    mariaDB_ = new PackagePicker(model, preferences, "MariaDB", PackageFamily::mariaDB, body);
    mariaDB_->setObjectName("mariaDBPicker");
    phpMyAdmin_ = new QCheckBox(body);
    phpMyAdmin_->setObjectName("phpMyAdminBox");
    addRow(PickerRow::make(body, mariaDB_, phpMyAdmin_));

    localAddress_ = new LocalAddressField(preferences, body);
    localAddress_->setObjectName("localAddressField");
    QLabel* hostnameLabel = addRow(localAddress_);
    // The label stands beside the text field, not beside the lines below it.
    grid_->setAlignment(hostnameLabel, Qt::AlignLeft | Qt::AlignTop);
    hostnameLabel->setFixedHeight(localAddress_->lineEdit()->sizeHint().height());

    webDirectory_ = new WebDirectoryField(preferences, body);
    webDirectory_->setObjectName("webDirectoryField");
    addRow(webDirectory_);

    for (QCheckBox* box : {https_, phpMyAdmin_}) {
        FormStyle::makeSmall(box);
        box->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
}

QLabel* RuntimeSection::addRow(QWidget* control) {
    const int row = static_cast<int>(rowLabels_.size());
    auto* label = new QLabel(control->parentWidget());
    FormStyle::makeSmall(label);
    FormStyle::makeSecondary(label);
    grid_->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignVCenter);
    grid_->addWidget(control, row, 1);
    rowLabels_.push_back(label);
    return label;
}

void RuntimeSection::connectControls() {
    ProfileDraft& draft = state_.draft();
    connect(name_, &QLineEdit::textEdited, &draft, [&draft](const QString& text) {
        draft.edit([&](StackProfile& profile) { profile.name = fromQt(text); });
    });
    const auto bindPicker = [&draft](PackagePicker* picker, std::string StackProfile::*field) {
        connect(picker, &PackagePicker::selectionEdited, &draft,
                [&draft, field](const QString& formula) {
                    draft.edit([&](StackProfile& profile) { profile.*field = fromQt(formula); });
                });
    };
    bindPicker(webserver_, &StackProfile::webserver);
    bindPicker(php_, &StackProfile::php);
    bindPicker(mariaDB_, &StackProfile::mariaDB);
    connect(https_, &QCheckBox::clicked, &draft, [&draft](bool checked) {
        draft.edit([&](StackProfile& profile) { profile.httpsEnabled = checked; });
    });
    connect(phpMyAdmin_, &QCheckBox::clicked, &draft, [&draft](bool checked) {
        draft.edit([&](StackProfile& profile) { profile.phpMyAdminEnabled = checked; });
    });
    connect(localAddress_, &LocalAddressField::valueEdited, &draft, [this, &draft] {
        const LocalAddressField::Value value = localAddress_->value();
        draft.edit([&](StackProfile& profile) {
            profile.hostname = value.hostname;
            profile.virtualHost = value.virtualHost;
            profile.standardPorts = value.standardPorts;
        });
    });
    connect(webDirectory_, &WebDirectoryField::pathEdited, this,
            [this] { state_.setWebSelection(webDirectory_->path()); });
    connect(&draft, &ProfileDraft::profileChanged, this, &RuntimeSection::watchHTTPS);
}

void RuntimeSection::watchHTTPS() {
    const StackProfile& profile = state_.draft().profile();
    if (profile.httpsEnabled == httpsSeen_)
        return;
    httpsSeen_ = profile.httpsEnabled;
    if (profile.httpsEnabled && !profile.httpsPort) {
        const auto suggested = state_.model().suggestedHTTPSPort();
        state_.draft().edit([&](StackProfile& next) { next.httpsPort = suggested; });
    }
}

void RuntimeSection::render() {
    EditorSection::render();
    const std::array<std::string, 6> texts = {L10n::text("Name"),     L10n::text("Web server"),
                                              L10n::text("PHP"),      L10n::text("MariaDB"),
                                              L10n::text("Hostname"), L10n::text("Web folder")};
    for (std::size_t i = 0; i < rowLabels_.size() && i < texts.size(); ++i)
        rowLabels_[i]->setText(toQt(texts[i]));

    const StackProfile& profile = state_.draft().profile();
    showText(name_, profile.name);
    name_->setPlaceholderText(toQt(L10n::text("Environment name")));
    name_->setAccessibleName(toQt(L10n::text("Environment name")));
    webserver_->setSelection(profile.webserver);
    php_->setSelection(profile.php);
    mariaDB_->setSelection(profile.mariaDB);
    {
        const QSignalBlocker blockHTTPS(https_);
        const QSignalBlocker blockPhpMyAdmin(phpMyAdmin_);
        https_->setChecked(profile.httpsEnabled);
        phpMyAdmin_->setChecked(profile.phpMyAdminEnabled);
    }
    https_->setText(toQt(L10n::text("HTTPS")));
    https_->setToolTip(toQt(L10n::text("Creates a self-signed certificate for localhost, "
                                       "127.0.0.1 and your optional hostname. HTTP stays "
                                       "available.")));
    phpMyAdmin_->setText(toQt(L10n::text("phpMyAdmin")));
    phpMyAdmin_->setToolTip(
        toQt(L10n::text("Manage this environment’s MariaDB databases in your browser.")));
    localAddress_->setValue({profile.hostname, profile.virtualHost, profile.standardPorts});
    webDirectory_->setPath(state_.webSelection());
}

} // namespace vessora
