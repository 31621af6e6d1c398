#include "Vessora/Sheets/LocalHTTPSSheet.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/DesktopOpening.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/App/LocalizedDate.hpp"
#include "Vessora/Controls/AlertWidth.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/IconLabel.hpp"
#include "Vessora/Sheets/SelectableText.hpp"
#include "Vessora/Sheets/SheetStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Storage/StackPaths.hpp"

#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

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

LocalHTTPSSheet::LocalHTTPSSheet(AppModel& model, AppPreferences& preferences,
                                 const StackProfile& profile, QWidget* parent)
    : QDialog(parent), model_(model), preferences_(preferences), profile_(profile),
      draft_(new LocalHTTPSDraft(this)) {
    setObjectName("localHTTPSSheet");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    build();
    connectSignals();
    render();
    load();
}

void LocalHTTPSSheet::build() {
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);

    auto* header = new QHBoxLayout;
    title_ = new IconLabel(this);
    title_->setObjectName("title");
    title_->setIcon("channel-secure");
    title_->textLabel()->setWordWrap(false);
    SheetStyle::makeTitle(title_);
    name_ = new QLabel(this);
    name_->setObjectName("environmentName");
    name_->setTextFormat(Qt::PlainText);
    SheetStyle::makeCallout(name_);
    FormStyle::makeSecondary(name_);
    header->addWidget(title_);
    header->addStretch(1);
    header->addWidget(name_);
    layout->addLayout(header);

    address_ = new SelectableText(this);
    address_->setObjectName("siteAddress");
    SheetStyle::makeMonospaced(address_, false);
    layout->addWidget(address_);

    httpAddress_ = new SelectableText(this);
    httpAddress_->setObjectName("httpAddress");
    FormStyle::makeCaption(httpAddress_);
    FormStyle::makeSecondary(httpAddress_);
    layout->addWidget(httpAddress_);

    auto* divider = new QFrame(this);
    divider->setObjectName("divider");
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    trust_ = new IconLabel(this);
    trust_->setObjectName("trustLabel");
    SheetStyle::makeCallout(trust_);
    layout->addWidget(trust_);

    expiryRow_ = new QWidget(this);
    expiryRow_->setObjectName("expiryRow");
    auto* expiry = new QHBoxLayout(expiryRow_);
    expiry->setContentsMargins(0, 0, 0, 0);
    expiryTitle_ = new QLabel(expiryRow_);
    expiryTitle_->setObjectName("expiryTitle");
    expiryDate_ = new QLabel(expiryRow_);
    expiryDate_->setObjectName("expiryDate");
    expiry->addWidget(expiryTitle_);
    expiry->addWidget(expiryDate_);
    expiry->addStretch(1);
    FormStyle::makeCaption(expiryRow_);
    FormStyle::makeSecondary(expiryRow_);
    // One space between title and date, as in running text.
    expiry->setSpacing(expiryTitle_->fontMetrics().horizontalAdvance(QLatin1Char(' ')));
    layout->addWidget(expiryRow_);

    fingerprint_ = new SelectableText(this);
    fingerprint_->setObjectName("fingerprint");
    SheetStyle::makeMonospaced(fingerprint_, true);
    layout->addWidget(fingerprint_);

    error_ = new SelectableText(this);
    error_->setObjectName("readError");
    FormStyle::makeCaption(error_);
    FormStyle::makeWarning(error_);
    layout->addWidget(error_);

    explanation_ = wrappedLabel(this, "explanation");
    FormStyle::makeCaption(explanation_);
    FormStyle::makeSecondary(explanation_);
    layout->addWidget(explanation_);

    trustBox_ = new QFrame(this);
    trustBox_->setObjectName("trustBox");
    trustBox_->setStyleSheet("QFrame#trustBox { background-color: rgba(128, 128, 128, 0.13); "
                             "border-radius: 8px; }");
    auto* box = new QVBoxLayout(trustBox_);
    box->setContentsMargins(12, 12, 12, 12);
    box->setSpacing(8);
    trustHeading_ = wrappedLabel(trustBox_, "trustHeading");
    FormStyle::makeSectionTitle(trustHeading_);
    box->addWidget(trustHeading_);
    const char* stepNames[] = {"trustStep1", "trustStep2", "trustStep3"};
    for (int step = 0; step < 3; ++step) {
        trustSteps_[step] = wrappedLabel(trustBox_, stepNames[step]);
        FormStyle::makeCaption(trustSteps_[step]);
        box->addWidget(trustSteps_[step]);
    }
    trustNote_ = wrappedLabel(trustBox_, "trustNote");
    FormStyle::makeCaption(trustNote_);
    FormStyle::makeSecondary(trustNote_);
    box->addWidget(trustNote_);
    layout->addWidget(trustBox_);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(10);
    const QColor buttonText = palette().color(QPalette::ButtonText);
    open_ =
        new QPushButton(Icons::symbolic("application-certificate", buttonText), QString(), this);
    open_->setObjectName("openCertificateButton");
    showFiles_ = new QPushButton(Icons::symbolic("folder", buttonText), QString(), this);
    showFiles_->setObjectName("showFilesButton");
    renew_ = new QPushButton(this);
    renew_->setObjectName("renewButton");
    for (QPushButton* button : {open_, showFiles_, renew_}) {
        button->setAutoDefault(false);
        FormStyle::makeSmall(button);
    }
    actions->addWidget(open_);
    actions->addWidget(showFiles_);
    actions->addStretch(1);
    actions->addWidget(renew_);
    layout->addLayout(actions);

    runningNote_ = wrappedLabel(this, "runningNote");
    FormStyle::makeCaption(runningNote_);
    FormStyle::makeSecondary(runningNote_);
    layout->addWidget(runningNote_);

    auto* footer = new QHBoxLayout;
    guide_ = new QLabel(this);
    guide_->setObjectName("trustGuideLink");
    guide_->setTextFormat(Qt::RichText);
    guide_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    guide_->setOpenExternalLinks(false);
    // Tab reaches the link; a click leaves the keyboard on the default button.
    guide_->setFocusPolicy(Qt::TabFocus);
    FormStyle::makeCaption(guide_);
    done_ = new QPushButton(this);
    done_->setObjectName("doneButton");
    done_->setDefault(true);
    FormStyle::makeSmall(done_);
    footer->addWidget(guide_);
    footer->addStretch(1);
    footer->addWidget(done_);
    layout->addLayout(footer);
}

void LocalHTTPSSheet::connectSignals() {
    connect(draft_, &LocalHTTPSDraft::changed, this, &LocalHTTPSSheet::render);
    connect(&model_, &AppModel::changed, this, &LocalHTTPSSheet::render);
    connect(&model_, &AppModel::busyChanged, this, &LocalHTTPSSheet::load);
    connect(&preferences_, &AppPreferences::changed, this, &LocalHTTPSSheet::render);
    connect(open_, &QPushButton::clicked, this,
            [this] { DesktopOpening::openPath(this, certificateFile()); });
    connect(showFiles_, &QPushButton::clicked, this,
            [this] { DesktopOpening::showInFileManager(this, certificateFile()); });
    connect(renew_, &QPushButton::clicked, this, &LocalHTTPSSheet::askRenewal);
    connect(guide_, &QLabel::linkActivated, this,
            [this](const QString& url) { DesktopOpening::openURL(this, url.toStdString()); });
    connect(done_, &QPushButton::clicked, this, &QDialog::accept);
}

void LocalHTTPSSheet::render() {
    const auto& info = draft_->info();
    const auto& error = draft_->error();
    const bool busy = model_.busy();
    const bool running = this->running();

    setWindowTitle(toQt(L10n::text("Local HTTPS")));
    title_->setText(toQt(L10n::text("Local HTTPS")));
    const QString name = QString::fromStdString(profile_.name);
    const int nameRoom = sheetWidth - 40 - title_->sizeHint().width() - 16;
    const QString shownName =
        QFontMetrics(name_->font()).elidedText(name, Qt::ElideRight, std::max(nameRoom, 40));
    name_->setText(shownName);
    name_->setToolTip(shownName == name ? QString() : name);
    address_->setText(QString::fromStdString(profile_.httpsURL().value_or(profile_.url())));
    httpAddress_->setText(toQt(L10n::text("HTTP stays available at %@", {profile_.url()})));

    trust_->setVisible(info.has_value());
    expiryRow_->setVisible(info.has_value());
    fingerprint_->setVisible(info.has_value());
    if (info) {
        if (info->trustedOnThisMac) {
            trust_->setIcon("security-high");
            trust_->setText(toQt(L10n::text("Trusted on this computer")));
            SheetStyle::setTextColor(trust_, SheetStyle::green());
        } else {
            trust_->setIcon("security-low");
            trust_->setText(toQt(L10n::text("Not trusted by this computer")));
            SheetStyle::setTextColor(trust_, FormStyle::warning());
        }
        expiryTitle_->setText(toQt(L10n::text("Valid until")));
        expiryDate_->setText(LocalizedDate::abbreviatedDate(info->expires, L10n::language()));
        // The prefix is the same in every language.
        fingerprint_->setText("SHA-256: " + QString::fromStdString(info->fingerprint));
    }
    error_->setVisible(error.has_value());
    error_->setText(QString::fromStdString(error.value_or("")));

    explanation_->setText(toQt(L10n::text(
        "Vessora creates a separate, self-signed certificate for each environment. It covers "
        "localhost, 127.0.0.1 and your optional hostname for one year. Private keys stay "
        "outside your project folder.")));
    trustHeading_->setText(toQt(L10n::text("Trust it in your browser")));
    trustSteps_[0]->setText(
        toQt(L10n::text("1. Open the certificate to check it, then add it to your "
                        "browser’s or your system’s certificate store.")));
    trustSteps_[1]->setText(
        toQt(L10n::text("2. In your browser’s certificate settings, import this Vessora "
                        "certificate and trust it to identify websites.")));
    trustSteps_[2]->setText(toQt(L10n::text(
        "3. For the system store, copy localhost.crt from the same folder to "
        "/usr/local/share/ca-certificates, run update-ca-certificates as administrator, then "
        "reload your browser.")));
    trustNote_->setText(
        toQt(L10n::text("This is optional. Vessora never changes certificate trust "
                        "automatically. Some browsers use their own certificate store.")));

    open_->setText(toQt(L10n::text("Open certificate")));
    open_->setEnabled(info.has_value() && !busy);
    showFiles_->setText(toQt(L10n::text("Show files")));
    showFiles_->setEnabled(info.has_value() && !busy);
    renew_->setText(toQt(L10n::text("Renew certificate…")));
    renew_->setEnabled(!busy && !running);
    runningNote_->setVisible(running);
    runningNote_->setText(toQt(L10n::text("Stop the environment to renew its certificate.")));

    guide_->setText(
        QString("<a href=\"%1\">%2</a>")
            .arg(QString(trustGuideURL), toQt(L10n::text("Debian’s trust guide")).toHtmlEscaped()));
    guide_->setToolTip(QString(trustGuideURL));
    done_->setText(toQt(L10n::text("Done")));

    renderConfirmation();
    SheetStyle::fitToContent(this, sheetWidth);
}

void LocalHTTPSSheet::renderConfirmation() {
    if (!confirmation_)
        return;
    confirmation_->setWindowTitle(toQt(L10n::text("Renew local certificate?")));
    confirmation_->setText(toQt(L10n::text("Renew local certificate?")));
    confirmRenew_->setText(toQt(L10n::text("Renew certificate")));
    cancelRenew_->setText(toQt(L10n::text("Cancel")));
    AlertWidth::setMessage(*confirmation_,
                           toQt(L10n::text("The certificate and private key will be replaced. If "
                                           "you trusted the previous certificate, remove it from "
                                           "your browser’s or your system’s certificate store "
                                           "and trust the new certificate separately. Existing "
                                           "project files and databases are kept.")));
}

void LocalHTTPSSheet::load() {
    const unsigned generation = ++readGeneration_;
    if (model_.busy())
        return;
    const auto engine = model_.engine();
    if (!engine)
        return;
    model_.workers().run(
        this, [engine, id = profile_.id] { return engine->certificateInfo(id); },
        [this, generation](LocalCertificateInfo info) {
            if (generation == readGeneration_)
                draft_->showDetails(std::move(info));
        },
        [this, generation](const std::string& text) {
            if (generation == readGeneration_)
                draft_->showError(text);
        });
}

void LocalHTTPSSheet::askRenewal() {
    if (confirmation_)
        return;
    draft_->setConfirmRenewal(true);
    auto* box = new QMessageBox(this);
    box->setObjectName("renewConfirmation");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    confirmRenew_ = box->addButton(QString(), QMessageBox::AcceptRole);
    confirmRenew_->setObjectName("confirmRenewButton");
    cancelRenew_ = box->addButton(QString(), QMessageBox::RejectRole);
    cancelRenew_->setObjectName("cancelRenewButton");
    box->setDefaultButton(confirmRenew_);
    box->setEscapeButton(cancelRenew_);
    confirmation_ = box;
    renderConfirmation();
    connect(box, &QMessageBox::finished, this, [this, box] {
        const bool confirmed = box->clickedButton() == confirmRenew_;
        confirmation_ = nullptr;
        draft_->setConfirmRenewal(false);
        if (confirmed)
            renew();
    });
    box->open();
}

void LocalHTTPSSheet::renew() {
    model_.perform(L10n::text("Renewing local HTTPS certificate…"), true,
                   [id = profile_.id](AppEngine& engine) { engine.renewCertificate(id); });
}

bool LocalHTTPSSheet::running() const {
    const auto status = model_.statuses().find(profile_.id);
    return status != model_.statuses().end() && !status->second.processes.empty();
}

std::filesystem::path LocalHTTPSSheet::certificateFile() const {
    return StackPaths(model_.dataRoot(), profile_).tlsImportCertificate();
}

} // namespace vessora
