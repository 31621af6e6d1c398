#include "Vessora/Sheets/LocalHostSheet.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/SelectableText.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* wrappedLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The prominent look of the one primary action: a solid accent fill (a
// shade darker, so white text stays readable) and white text.
void makeProminent(QPushButton* button) {
    const QColor fill = SheetStyle::accent().darker(125);
    QColor faded = SheetStyle::accent();
    faded.setAlphaF(0.4);
    button->setStyleSheet(
        QString("QPushButton { background-color: %1; color: white; border: 1px solid %2;"
                " border-radius: 4px; padding: 4px 12px; }"
                "QPushButton:hover { background-color: %3; }"
                "QPushButton:pressed { background-color: %2; }"
                "QPushButton:disabled { background-color: %4; color: rgba(255, 255, 255, 0.85);"
                " border-color: transparent; }")
            .arg(fill.name(), fill.darker(125).name(), fill.lighter(110).name(),
                 faded.name(QColor::HexArgb)));
}

} // namespace

LocalHostSheet::LocalHostSheet(AppModel& model, AppPreferences& preferences, QWidget* parent)
    : QDialog(parent), model_(model), preferences_(preferences) {
    setObjectName("localHostSheet");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    build();
    connectSignals();
    render();
}

void LocalHostSheet::build() {
    using SheetStyle::TextStyle;
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->setSpacing(14);

    title_ = new IconLabel(this);
    title_->setObjectName("title");
    title_->setIcon("network-workgroup");
    SheetStyle::setFont(title_, TextStyle::title, true);
    layout->addWidget(title_);

    introduction_ = wrappedLabel(this, "introduction");
    layout->addWidget(introduction_);
    setupNote_ = wrappedLabel(this, "setupNote");
    SheetStyle::setSecondary(setupNote_);
    layout->addWidget(setupNote_);

    ready_ = new IconLabel(this);
    ready_->setObjectName("readyStatus");
    ready_->setIcon("emblem-ok");
    SheetStyle::setTextColor(ready_, SheetStyle::green());
    layout->addWidget(ready_);
    approval_ = new IconLabel(this);
    approval_->setObjectName("approvalStatus");
    approval_->setIcon("dialog-password");
    layout->addWidget(approval_);
    portBased_ = wrappedLabel(this, "portBasedStatus");
    SheetStyle::setFont(portBased_, TextStyle::callout);
    SheetStyle::setSecondary(portBased_);
    layout->addWidget(portBased_);

    error_ = new SelectableText(this);
    error_->setObjectName("error");
    SheetStyle::setFont(error_, TextStyle::callout);
    SheetStyle::setTextColor(error_, SheetStyle::orange());
    layout->addWidget(error_);

    auto* buttons = new QHBoxLayout;
    remove_ = new QPushButton(this);
    remove_->setObjectName("removeSetupButton");
    SheetStyle::setTextColor(remove_, SheetStyle::destructive());
    done_ = new QPushButton(this);
    done_->setObjectName("doneButton");
    primary_ = new QPushButton(this);
    primary_->setObjectName("primaryButton");
    makeProminent(primary_);
    // Return starts nothing here; Escape is "Done".
    for (QPushButton* button : {remove_, done_, primary_})
        button->setAutoDefault(false);
    buttons->addWidget(remove_);
    buttons->addStretch(1);
    buttons->addWidget(done_);
    buttons->addWidget(primary_);
    layout->addLayout(buttons);
}

void LocalHostSheet::connectSignals() {
    connect(&model_, &AppModel::changed, this, &LocalHostSheet::render);
    connect(&preferences_, &AppPreferences::changed, this, &LocalHostSheet::render);
    connect(remove_, &QPushButton::clicked, &model_, &AppModel::removeLocalHosts);
    connect(primary_, &QPushButton::clicked, &model_, &AppModel::setUpLocalHosts);
    connect(done_, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::finished, &model_,
            [model = &model_] { model->setShowLocalHosts(false); });
}

void LocalHostSheet::render() {
    const bool ready = model_.localHostReady();
    const bool approval = model_.hostApprovalPending();
    const bool registered = model_.hostSetupRegistered();
    const bool busy = model_.busy();

    setWindowTitle(qs(L10n::text("Local addresses")));
    title_->setText(qs(L10n::text("Local addresses")));
    introduction_->setText(qs(L10n::text(
        "Use addresses such as shop.test for your environments. Enable “Without port number” to "
        "open them without :8088 or :8448.")));
    setupNote_->setText(qs(L10n::text(
        "Set up once: your system asks for an administrator password to enable the Vessora "
        "helper as a system service. It manages only Vessora hosts entries and local ports 80 and "
        "443.")));

    ready_->setVisible(ready);
    ready_->setText(qs(L10n::text("Local addresses are ready")));
    approval_->setVisible(!ready && approval);
    approval_->setText(qs(L10n::text(
        "Approve the Vessora system service in the administrator password prompt, then return "
        "here.")));
    portBased_->setVisible(!ready && !approval);
    portBased_->setText(qs(L10n::text("Your existing port-based addresses continue to work. HTTPS "
                                      "certificates still need their separate browser trust "
                                      "step.")));

    error_->setVisible(model_.error().has_value());
    error_->setText(qs(model_.error().value_or("")));

    remove_->setVisible(registered);
    remove_->setEnabled(!busy && !model_.hostnameEnvironmentRunning());
    remove_->setText(qs(L10n::text("Remove setup")));
    remove_->setToolTip(qs(L10n::text("Stop environments with hostnames first. Removes only "
                                      "Vessora’s entries and helper registration.")));
    done_->setText(qs(L10n::text("Done")));
    primary_->setVisible(!ready);
    primary_->setEnabled(!busy);
    if (approval)
        primary_->setText(qs(L10n::text("Enable system service")));
    else if (!registered)
        primary_->setText(qs(L10n::text("Set up local addresses")));
    else if (model_.hostSetupNeedsUpdate())
        primary_->setText(qs(L10n::text("Update setup")));
    else
        primary_->setText(qs(L10n::text("Retry connection")));

    SheetStyle::fitToContent(this, sheetWidth);
}

} // namespace vessora
