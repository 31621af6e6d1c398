#include "Vessora/Sheets/UpdateDetailsSheet.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/DesktopOpening.hpp"
#include "Vessora/App/LocalizedDate.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Windows/CircledSymbol.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace vessora {

namespace {

// A small wrapping line of plain text.
QLabel* label(QWidget* parent, const char* name) {
    auto* result = new QLabel(parent);
    result->setObjectName(name);
    result->setTextFormat(Qt::PlainText);
    FormStyle::makeSmall(result);
    FormStyle::makeWrapping(result);
    return result;
}

// A caption: smaller still, secondary, wrapping.
QLabel* caption(QWidget* parent, const char* name) {
    auto* result = label(parent, name);
    FormStyle::makeCaption(result);
    FormStyle::makeSecondary(result);
    return result;
}

QPushButton* button(QWidget* parent, const char* name) {
    auto* result = new QPushButton(parent);
    result->setObjectName(name);
    result->setAutoDefault(false);
    FormStyle::makeSmall(result);
    return result;
}

QLabel* symbol(QWidget* parent, CircledSymbol shape, const QColor& colour, int size = 14) {
    auto* result = new QLabel(parent);
    result->setPixmap(drawCircledSymbol(shape, colour, size));
    result->setAlignment(Qt::AlignTop);
    return result;
}

// A symbol beside a wrapping text, as one line of the sheet.
QWidget* labelled(QWidget* parent, const char* name, QLabel* symbolLabel, QLabel* textLabel) {
    auto* row = new QWidget(parent);
    row->setObjectName(name);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    symbolLabel->setParent(row);
    textLabel->setParent(row);
    layout->addWidget(symbolLabel, 0, Qt::AlignTop);
    layout->addWidget(textLabel, 1);
    return row;
}

} // namespace

UpdateDetailsSheet::UpdateDetailsSheet(AppUpdates& updates, AppPreferences& preferences,
                                       QWidget* parent)
    : QDialog(parent), updates_(updates), preferences_(preferences) {
    setObjectName("updateDetailsSheet");
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    build();

    connect(download_, &QPushButton::clicked, this, [this] {
        if (const auto& latest = updates_.latest())
            DesktopOpening::openURL(this, latest->downloadURL());
    });
    connect(homebrewToggle_, &QToolButton::toggled, this, [this] { render(); });
    connect(copyCommand_, &QPushButton::clicked, this, [] {
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->clear();
        clipboard->setText(toQt(AppRelease::upgradeCommand()));
    });
    connect(releasePage_, &QPushButton::clicked, this,
            [this] { DesktopOpening::openURL(this, AppRelease::websiteURL()); });
    connect(checkAgain_, &QPushButton::clicked, this, [this] { updates_.checkManually(); });
    connect(done_, &QPushButton::clicked, this, &QDialog::reject);
    // Done, Escape and the window's close button all end here.
    connect(this, &QDialog::finished, this, [this] { updates_.setShowDetails(false); });
    connect(&updates, &AppUpdates::changed, this, &UpdateDetailsSheet::render);
    connect(&preferences, &AppPreferences::changed, this, &UpdateDetailsSheet::render);
    render();
}

void UpdateDetailsSheet::build() {
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(20, 20, 20, 16);
    layout_->setSpacing(10);

    title_ = label(this, "updateTitle");
    FormStyle::makeHeading(title_);
    auto* titleSymbol = symbol(this, CircledSymbol::arrowDown, FormStyle::accent(), 20);
    titleSymbol->setAlignment(Qt::AlignVCenter);
    layout_->addWidget(labelled(this, "updateTitleRow", titleSymbol, title_));

    installed_ = label(this, "updateInstalled");
    FormStyle::makeSecondary(installed_);
    layout_->addWidget(installed_);

    checkingRow_ = new QWidget(this);
    checkingRow_->setObjectName("updateCheckingRow");
    auto* checkingLayout = new QHBoxLayout(checkingRow_);
    checkingLayout->setContentsMargins(0, 0, 0, 0);
    checkingLayout->setSpacing(8);
    progress_ = new QProgressBar(checkingRow_);
    progress_->setObjectName("updateProgress");
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setFixedSize(60, 8);
    QPalette progressPalette = progress_->palette();
    progressPalette.setColor(QPalette::Highlight, FormStyle::accent());
    progress_->setPalette(progressPalette);
    checking_ = label(checkingRow_, "updateChecking");
    checkingLayout->addWidget(progress_, 0, Qt::AlignVCenter);
    checkingLayout->addWidget(checking_, 1);
    layout_->addWidget(checkingRow_);

    headline_ = label(this, "updateHeadline");
    FormStyle::makeSectionTitle(headline_);
    layout_->addWidget(headline_);

    requirement_ = label(this, "updateRequirement");
    FormStyle::makeWarning(requirement_);
    requirementRow_ =
        labelled(this, "updateRequirementRow",
                 symbol(this, CircledSymbol::info, FormStyle::warning()), requirement_);
    layout_->addWidget(requirementRow_);

    download_ = button(this, "updateDownload");
    FormStyle::makeProminent(download_);
    // Prominent, but Return must not open the browser by surprise.
    download_->setDefault(false);
    download_->setCursor(Qt::PointingHandCursor);
    layout_->addWidget(download_, 0, Qt::AlignLeft);

    homebrewToggle_ = new QToolButton(this);
    homebrewToggle_->setObjectName("updateHomebrewToggle");
    homebrewToggle_->setCheckable(true);
    homebrewToggle_->setChecked(false);
    homebrewToggle_->setAutoRaise(true);
    homebrewToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // A disclosure line, not a button frame.
    homebrewToggle_->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 2px 0; }"));
    FormStyle::makeSmall(homebrewToggle_);
    layout_->addWidget(homebrewToggle_, 0, Qt::AlignLeft);

    homebrewBox_ = new QWidget(this);
    homebrewBox_->setObjectName("updateHomebrewBox");
    auto* homebrewLayout = new QVBoxLayout(homebrewBox_);
    homebrewLayout->setContentsMargins(18, 0, 0, 0);
    homebrewLayout->setSpacing(6);
    command_ = new QLabel(homebrewBox_);
    command_->setObjectName("updateCommand");
    command_->setTextFormat(Qt::PlainText);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(QApplication::font().pointSizeF() * 10.0 / 13.0);
    command_->setFont(mono);
    command_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    command_->setText(toQt(AppRelease::upgradeCommand()));
    copyCommand_ = button(homebrewBox_, "updateCopyCommand");
    homebrewLayout->addWidget(command_);
    homebrewLayout->addWidget(copyCommand_, 0, Qt::AlignLeft);
    layout_->addWidget(homebrewBox_);

    quitNote_ = caption(this, "updateQuitNote");
    layout_->addWidget(quitNote_);

    packagedOnly_ = label(this, "updatePackagedOnly");
    layout_->addWidget(packagedOnly_);

    current_ = label(this, "updateCurrent");
    currentRow_ = labelled(this, "updateCurrentRow",
                           symbol(this, CircledSymbol::checkmark, FormStyle::accent()), current_);
    layout_->addWidget(currentRow_);

    error_ = caption(this, "updateError");
    FormStyle::makeWarning(error_);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout_->addWidget(error_);

    lastChecked_ = caption(this, "updateLastChecked");
    layout_->addWidget(lastChecked_);

    divider_ = new QFrame(this);
    divider_->setFrameShape(QFrame::HLine);
    divider_->setFrameShadow(QFrame::Sunken);
    layout_->addWidget(divider_);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    releasePage_ = button(this, "updateReleasePage");
    releasePage_->setFlat(true);
    releasePage_->setCursor(Qt::PointingHandCursor);
    QPalette linkPalette = releasePage_->palette();
    linkPalette.setColor(QPalette::ButtonText, linkPalette.color(QPalette::Link));
    releasePage_->setPalette(linkPalette);
    checkAgain_ = button(this, "updateCheckAgain");
    done_ = button(this, "updateDone");
    buttons->addWidget(releasePage_);
    buttons->addStretch(1);
    buttons->addWidget(checkAgain_);
    buttons->addWidget(done_);
    layout_->addLayout(buttons);
}

void UpdateDetailsSheet::render() {
    const auto& latest = updates_.latest();
    const auto availability = updates_.availability();
    const bool checking = updates_.isChecking();
    const bool hasInstalled = updates_.installed().has_value();
    const bool requiresNewer = availability == UpdateAvailability::requiresNewerMacOS;
    const bool newer = latest && (availability == UpdateAvailability::available || requiresNewer);
    const bool available = newer && !requiresNewer;

    setWindowTitle(toQt(L10n::text("Vessora updates")));
    title_->setText(toQt(L10n::text("Vessora updates")));
    installed_->setText(toQt(L10n::text("Installed: %@", {updates_.currentVersion()})));
    checking_->setText(toQt(L10n::text("Checking for updates…")));
    checkingRow_->setVisible(checking);

    // The status: the first case that applies.
    const std::string version = latest ? latest->version : "";
    const std::string minimum = latest ? latest->minimumMacOS : "";
    headline_->setText(toQt(L10n::text("Vessora %@ is available.", {version})));
    headline_->setVisible(newer);
    requirement_->setText(toQt(L10n::text("This release requires macOS %@ or later.", {minimum})));
    requirementRow_->setVisible(newer && requiresNewer);
    download_->setText(toQt(L10n::text("Download update")));
    download_->setVisible(available);
    const bool homebrew = available && latest->homebrewAvailable;
    homebrewToggle_->setText(toQt(L10n::text("Update with Homebrew")));
    homebrewToggle_->setArrowType(homebrewToggle_->isChecked() ? Qt::DownArrow : Qt::RightArrow);
    homebrewToggle_->setVisible(homebrew);
    homebrewBox_->setVisible(homebrew && homebrewToggle_->isChecked());
    copyCommand_->setText(toQt(L10n::text("Copy command")));
    quitNote_->setText(
        toQt(L10n::text("Quit Vessora before replacing the app or running the upgrade. Its "
                        "environments will stop; project files and databases are kept.")));
    quitNote_->setVisible(available);
    packagedOnly_->setText(toQt(L10n::text("Update checks are available in packaged app builds.")));
    packagedOnly_->setVisible(!newer && !hasInstalled);
    current_->setText(toQt(L10n::text("No newer published version is available.")));
    currentRow_->setVisible(!newer && hasInstalled && latest && !checking && !updates_.error());

    // The check's own sentence, already translated when it failed.
    const auto& error = updates_.error();
    error_->setText(error ? toQt(*error) : QString());
    error_->setVisible(error.has_value());

    const auto& lastChecked = updates_.lastChecked();
    const QString checkedAt =
        lastChecked ? LocalizedDate::abbreviatedDateTime(*lastChecked, preferences_.language())
                    : QString();
    lastChecked_->setText(toQt(L10n::text("Last checked: %@", {fromQt(checkedAt)})));
    lastChecked_->setVisible(lastChecked.has_value());

    releasePage_->setText(toQt(L10n::text("Release page")));
    checkAgain_->setText(toQt(L10n::text("Check again")));
    checkAgain_->setEnabled(!checking && hasInstalled);
    done_->setText(toQt(L10n::text("Done")));
    fitHeight();
}

void UpdateDetailsSheet::fitHeight() {
    // Wrapped lines need the height that belongs to the fixed width.
    layout_->invalidate();
    const int height = layout_->hasHeightForWidth() ? layout_->heightForWidth(sheetWidth)
                                                    : layout_->sizeHint().height();
    setFixedSize(sheetWidth, std::max(height, layout_->minimumSize().height()));
}

} // namespace vessora
