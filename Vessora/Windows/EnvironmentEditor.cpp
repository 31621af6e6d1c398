#include "Vessora/Windows/EnvironmentEditor.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/DatabaseManagerSheet.hpp"
#include "Vessora/Sheets/LocalHTTPSSheet.hpp"
#include "Vessora/Windows/EditorActionBar.hpp"
#include "Vessora/Windows/EditorDetails.hpp"
#include "Vessora/Windows/EditorHeader.hpp"
#include "Vessora/Windows/EditorShortcuts.hpp"
#include "Vessora/Windows/PortsSection.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "Vessora/Windows/RuntimeSection.hpp"
#include "Vessora/Windows/SheetPresenter.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

namespace {

const QString certificateKey = "certificate";
const QString databaseKey = "databases";

// An icon beside a caption, as a label with a system image.
QLabel* captionIcon(QWidget* parent, const char* objectName) {
    auto* icon = new QLabel(parent);
    icon->setObjectName(objectName);
    return icon;
}

// The theme's symbolic icon in the label's own (secondary) text colour.
void setIcon(QLabel* label, const char* name) {
    if (label->property("iconName").toString() == name)
        return;
    const int size = label->fontMetrics().height();
    const QColor colour = label->palette().color(QPalette::WindowText);
    label->setPixmap(Icons::symbolic(name, colour).pixmap(size, size));
    label->setProperty("iconName", name);
}

QPushButton* borderless(QWidget* parent, const char* objectName) {
    auto* button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    FormStyle::makeSmall(button);
    QPalette palette = button->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::ButtonText, palette.color(group, QPalette::Link));
    button->setPalette(palette);
    return button;
}

} // namespace

EnvironmentEditor::EnvironmentEditor(AppModel& model, AppPreferences& preferences,
                                     StackProfile saved, QWidget* parent)
    : QWidget(parent), preferences_(preferences), draft_(new ProfileDraft(saved, this)),
      state_(model, std::move(saved), *draft_) {
    setObjectName("environmentEditor");
    build(preferences);

    connect(&model, &AppModel::changed, this, &EnvironmentEditor::render);
    connect(draft_, &ProfileDraft::changed, this, &EnvironmentEditor::render);
    connect(&preferences, &AppPreferences::changed, this, &EnvironmentEditor::render);
    render();
}

EnvironmentEditor::~EnvironmentEditor() {
    // A new editor means another record: its sheets close with this one.
    if (SheetPresenter* presenter = SheetPresenter::of(this)) {
        if (certificateSheet_)
            presenter->dismiss(certificateKey);
        if (databaseSheet_)
            presenter->dismiss(databaseKey);
    }
    disconnect(draft_, nullptr, this, nullptr);
    disconnect(&state_.model(), nullptr, this, nullptr);
    disconnect(&preferences_, nullptr, this, nullptr);
    qDeleteAll(findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
}

void EnvironmentEditor::build(AppPreferences& preferences) {
    header_ = new EditorHeader(state_, this);

    form_ = new QWidget(this);
    form_->setObjectName("editorForm");
    runtime_ = new RuntimeSection(state_, preferences, form_);
    ports_ = new PortsSection(state_, preferences, form_);
    auto* formRow = new QHBoxLayout(form_);
    formRow->setContentsMargins(0, 0, 0, 0);
    formRow->setSpacing(12);
    formRow->addWidget(runtime_, 1, Qt::AlignTop);
    formRow->addWidget(ports_, 0, Qt::AlignTop);

    actions_ = new EditorActionBar(state_, this);
    localAddressRow_ = buildLocalAddressRow();
    shortcuts_ = new EditorShortcuts(state_, this);
    httpsRow_ = buildHTTPSRow();
    details_ = new EditorDetails(state_, this);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    for (QWidget* part :
         {static_cast<QWidget*>(header_), form_, static_cast<QWidget*>(actions_), localAddressRow_,
          static_cast<QWidget*>(shortcuts_), httpsRow_, static_cast<QWidget*>(details_)})
        column->addWidget(part);
}

QWidget* EnvironmentEditor::buildLocalAddressRow() {
    auto* row = new QWidget(this);
    row->setObjectName("localAddressRow");
    localAddressIcon_ = captionIcon(row, "localAddressIcon");
    localAddressStatus_ = new QLabel(row);
    localAddressStatus_->setObjectName("localAddressStatus");
    FormStyle::makeCaption(localAddressStatus_);
    FormStyle::makeSecondary(localAddressStatus_);
    FormStyle::makeCaption(localAddressIcon_);
    FormStyle::makeSecondary(localAddressIcon_);
    localAddresses_ = borderless(row, "localAddressesButton");

    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(localAddressIcon_);
    layout->addWidget(localAddressStatus_);
    layout->addWidget(localAddresses_);
    layout->addStretch(1);

    connect(localAddresses_, &QPushButton::clicked, this, [this] {
        AppModel& model = state_.model();
        model.refreshHostSetupState();
        model.setShowLocalHosts(true);
    });
    return row;
}

QWidget* EnvironmentEditor::buildHTTPSRow() {
    auto* row = new QWidget(this);
    row->setObjectName("httpsRow");
    httpsIcon_ = captionIcon(row, "httpsIcon");
    FormStyle::makeCaption(httpsIcon_);
    FormStyle::makeSecondary(httpsIcon_);
    httpsLabel_ = new QLabel(row);
    httpsLabel_->setObjectName("httpsLabel");
    httpsLabel_->setTextFormat(Qt::PlainText);
    FormStyle::makeCaption(httpsLabel_);
    FormStyle::makeSecondary(httpsLabel_);
    certificate_ = borderless(row, "certificateButton");

    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(httpsIcon_);
    layout->addWidget(httpsLabel_);
    layout->addWidget(certificate_);
    layout->addStretch(1);

    connect(certificate_, &QPushButton::clicked, this,
            [this] { state_.draft().setShowCertificate(true); });
    return row;
}

void EnvironmentEditor::render() {
    header_->render();
    runtime_->render();
    ports_->render();
    form_->setEnabled(!state_.disabled());
    actions_->render();
    renderRows();
    shortcuts_->render();
    details_->render();
    presentSheets();
}

void EnvironmentEditor::renderRows() {
    const StackProfile& saved = state_.saved();
    localAddressRow_->setVisible(saved.hostname.has_value());
    if (state_.model().localHostReady()) {
        setIcon(localAddressIcon_, "emblem-ok");
        localAddressStatus_->setText(toQt(L10n::text("Local addresses are ready")));
    } else {
        setIcon(localAddressIcon_, "network-workgroup");
        localAddressStatus_->setText(
            toQt(L10n::text("Set up local addresses to use this hostname")));
    }
    localAddresses_->setText(toQt(L10n::text("Local addresses…")));

    httpsRow_->setVisible(saved.httpsEnabled);
    setIcon(httpsIcon_, "security-high");
    const auto httpsURL = saved.httpsURL();
    httpsLabel_->setText(httpsURL ? toQt(*httpsURL) : toQt(L10n::text("Local HTTPS")));
    // A single "&" would mark a shortcut letter.
    certificate_->setText(toQt(L10n::text("HTTPS & certificate")).replace("&", "&&"));
}

void EnvironmentEditor::presentSheets() {
    AppModel& model = state_.model();
    AppPreferences& preferences = preferences_;
    // Both sheets get the saved record, never the draft.
    const StackProfile saved = state_.saved();
    present(
        certificateKey, draft_->showCertificate(), certificateSheet_,
        [&model, &preferences, saved](QWidget* parent) -> QDialog* {
            return new LocalHTTPSSheet(model, preferences, saved, parent);
        },
        [](ProfileDraft& draft) { return draft.showCertificate(); },
        [](ProfileDraft& draft) { draft.setShowCertificate(false); });
    present(
        databaseKey, draft_->showDatabase(), databaseSheet_,
        [&model, &preferences, saved](QWidget* parent) -> QDialog* {
            return new DatabaseManagerSheet(model, preferences, saved, parent);
        },
        [](ProfileDraft& draft) { return draft.showDatabase(); },
        [](ProfileDraft& draft) { draft.setShowDatabase(false); });
}

void EnvironmentEditor::present(const QString& key, bool wanted, QPointer<QDialog>& sheet,
                                const std::function<QDialog*(QWidget*)>& make,
                                const std::function<bool(ProfileDraft&)>& flag,
                                const std::function<void(ProfileDraft&)>& lower) {
    SheetPresenter* presenter = SheetPresenter::of(this);
    if (!wanted) {
        if (presenter && sheet)
            presenter->dismiss(key);
        else if (sheet && sheet->isVisible())
            sheet->reject();
        return;
    }
    if (sheet)
        return;
    if (!presenter) {
        // Outside a main window: open it here.
        sheet = make(this);
        connect(sheet, &QDialog::finished, this, [this, lower] { lower(*draft_); });
        sheet->open();
        return;
    }
    // The window shows one sheet at a time; this one may wait its turn,
    // and its flag may be gone by then. The editor may be gone too.
    QPointer<EnvironmentEditor> self(this);
    QPointer<QDialog>* slot = &sheet;
    presenter->request(
        key,
        [self, make, slot](QWidget* window) -> QDialog* {
            if (!self)
                return nullptr;
            QDialog* made = make(window);
            *slot = made;
            return made;
        },
        [self, flag] { return self && flag(*self->draft_); },
        [self, lower] {
            if (self)
                lower(*self->draft_);
        });
}

} // namespace vessora
