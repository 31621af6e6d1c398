#include "Vessora/Sheets/LocalHostSheet.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
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

QLabel* wrappedLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    FormStyle::makeWrapping(label);
    return label;
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
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->setSpacing(14);

    title_ = new IconLabel(this);
    title_->setObjectName("title");
    title_->setIcon("network-workgroup");
    SheetStyle::makeTitle(title_);
    layout->addWidget(title_);

    introduction_ = wrappedLabel(this, "introduction");
    layout->addWidget(introduction_);
    setupNote_ = wrappedLabel(this, "setupNote");
    FormStyle::makeSecondary(setupNote_);
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
    SheetStyle::makeCallout(portBased_);
    FormStyle::makeSecondary(portBased_);
    layout->addWidget(portBased_);

    error_ = new SelectableText(this);
    error_->setObjectName("error");
    SheetStyle::makeCallout(error_);
    FormStyle::makeWarning(error_);
    layout->addWidget(error_);

    auto* buttons = new QHBoxLayout;
    remove_ = new QPushButton(this);
    remove_->setObjectName("removeSetupButton");
    SheetStyle::setTextColor(remove_, SheetStyle::destructive());
    done_ = new QPushButton(this);
    done_->setObjectName("doneButton");
    primary_ = new QPushButton(this);
    primary_->setObjectName("primaryButton");
    FormStyle::makeProminent(primary_);
    // Return starts nothing here; Escape is "Done".
    for (QPushButton* button : {remove_, done_, primary_}) {
        button->setDefault(false);
        button->setAutoDefault(false);
        FormStyle::makeSmall(button);
    }
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

    setWindowTitle(toQt(L10n::text("Local addresses")));
    title_->setText(toQt(L10n::text("Local addresses")));
    introduction_->setText(toQt(L10n::text(
        "Use addresses such as shop.test for your environments. Enable “Without port number” to "
        "open them without :8088 or :8448.")));
    setupNote_->setText(toQt(L10n::text(
        "Set up once: your system asks for an administrator password to enable the Vessora "
        "helper as a system service. It manages only Vessora hosts entries and local ports 80 and "
        "443.")));

    ready_->setVisible(ready);
    ready_->setText(toQt(L10n::text("Local addresses are ready")));
    approval_->setVisible(!ready && approval);
    approval_->setText(toQt(L10n::text(
        "Approve the Vessora system service in the administrator password prompt, then return "
        "here.")));
    portBased_->setVisible(!ready && !approval);
    portBased_->setText(
        toQt(L10n::text("Your existing port-based addresses continue to work. HTTPS "
                        "certificates still need their separate browser trust "
                        "step.")));

    error_->setVisible(model_.error().has_value());
    error_->setText(toQt(model_.error().value_or("")));

    remove_->setVisible(registered);
    remove_->setEnabled(!busy && !model_.hostnameEnvironmentRunning());
    remove_->setText(toQt(L10n::text("Remove setup")));
    remove_->setToolTip(toQt(L10n::text("Stop environments with hostnames first. Removes only "
                                        "Vessora’s entries and helper registration.")));
    done_->setText(toQt(L10n::text("Done")));
    primary_->setVisible(!ready);
    primary_->setEnabled(!busy);
    if (approval)
        primary_->setText(toQt(L10n::text("Enable system service")));
    else if (!registered)
        primary_->setText(toQt(L10n::text("Set up local addresses")));
    else if (model_.hostSetupNeedsUpdate())
        primary_->setText(toQt(L10n::text("Update setup")));
    else
        primary_->setText(toQt(L10n::text("Retry connection")));

    SheetStyle::fitToContent(this, sheetWidth);
}

} // namespace vessora
