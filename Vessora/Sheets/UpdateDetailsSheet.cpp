#include "Vessora/Sheets/UpdateDetailsSheet.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/DesktopServices.hpp"
#include "Vessora/App/LocalizedDate.hpp"
#include "Vessora/Windows/LabelStyle.hpp"
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

QString text(std::string_view key, const std::vector<std::string>& arguments = {}) {
    return QString::fromStdString(L10n::text(key, arguments));
}

QLabel* label(QWidget* parent, const char* name) {
    auto* result = new QLabel(parent);
    result->setObjectName(name);
    result->setTextFormat(Qt::PlainText);
    result->setWordWrap(true);
    return result;
}

QLabel* symbol(QWidget* parent, LabelStyle::Symbol shape, const QColor& colour, int size = 16) {
    auto* result = new QLabel(parent);
    result->setPixmap(LabelStyle::symbol(shape, colour, size));
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
            DesktopServices::current().openURL(latest->downloadURL());
    });
    connect(homebrewToggle_, &QToolButton::toggled, this, [this] { render(); });
    connect(copyCommand_, &QPushButton::clicked, this, [] {
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->clear();
        clipboard->setText(QString::fromStdString(AppRelease::upgradeCommand()));
    });
    connect(releasePage_, &QPushButton::clicked, this,
            [] { DesktopServices::current().openURL(AppRelease::websiteURL()); });
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
    QFont titleFont = title_->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setWeight(QFont::DemiBold);
    title_->setFont(titleFont);
    auto* titleSymbol = symbol(this, LabelStyle::Symbol::arrowDownCircle, LabelStyle::accent(), 22);
    titleSymbol->setAlignment(Qt::AlignVCenter);
    layout_->addWidget(labelled(this, "updateTitleRow", titleSymbol, title_));

    installed_ = label(this, "updateInstalled");
    LabelStyle::secondary(installed_);
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
    progressPalette.setColor(QPalette::Highlight, LabelStyle::accent());
    progress_->setPalette(progressPalette);
    checking_ = label(checkingRow_, "updateChecking");
    checkingLayout->addWidget(progress_, 0, Qt::AlignVCenter);
    checkingLayout->addWidget(checking_, 1);
    layout_->addWidget(checkingRow_);

    headline_ = label(this, "updateHeadline");
    QFont headlineFont = headline_->font();
    headlineFont.setWeight(QFont::DemiBold);
    headline_->setFont(headlineFont);
    layout_->addWidget(headline_);

    requirement_ = label(this, "updateRequirement");
    LabelStyle::orange(requirement_);
    requirementRow_ =
        labelled(this, "updateRequirementRow",
                 symbol(this, LabelStyle::Symbol::infoCircle, LabelStyle::orange()), requirement_);
    layout_->addWidget(requirementRow_);

    download_ = new QPushButton(this);
    download_->setObjectName("updateDownload");
    download_->setAutoDefault(false);
    download_->setCursor(Qt::PointingHandCursor);
    const QColor accent = LabelStyle::accent();
    download_->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: 1px solid %2;"
                       " border-radius: 6px; padding: 5px 14px; font-weight: 600; }"
                       "QPushButton:pressed { background: %2; }")
            .arg(accent.name(), accent.darker(125).name()));
    layout_->addWidget(download_, 0, Qt::AlignLeft);

    homebrewToggle_ = new QToolButton(this);
    homebrewToggle_->setObjectName("updateHomebrewToggle");
    homebrewToggle_->setCheckable(true);
    homebrewToggle_->setChecked(false);
    homebrewToggle_->setAutoRaise(true);
    // A disclosure line, not a button frame.
    homebrewToggle_->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 2px 0; }"));
    homebrewToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    layout_->addWidget(homebrewToggle_, 0, Qt::AlignLeft);

    homebrewBox_ = new QWidget(this);
    homebrewBox_->setObjectName("updateHomebrewBox");
    auto* homebrewLayout = new QVBoxLayout(homebrewBox_);
    homebrewLayout->setContentsMargins(18, 0, 0, 0);
    homebrewLayout->setSpacing(6);
    command_ = label(homebrewBox_, "updateCommand");
    command_->setWordWrap(false);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(font().pointSizeF() * 0.88);
    command_->setFont(mono);
    command_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    command_->setText(QString::fromStdString(AppRelease::upgradeCommand()));
    copyCommand_ = new QPushButton(homebrewBox_);
    copyCommand_->setObjectName("updateCopyCommand");
    copyCommand_->setAutoDefault(false);
    homebrewLayout->addWidget(command_);
    homebrewLayout->addWidget(copyCommand_, 0, Qt::AlignLeft);
    layout_->addWidget(homebrewBox_);

    quitNote_ = label(this, "updateQuitNote");
    LabelStyle::caption(quitNote_);
    layout_->addWidget(quitNote_);

    packagedOnly_ = label(this, "updatePackagedOnly");
    layout_->addWidget(packagedOnly_);

    current_ = label(this, "updateCurrent");
    currentRow_ =
        labelled(this, "updateCurrentRow",
                 symbol(this, LabelStyle::Symbol::checkmarkCircle, LabelStyle::accent()), current_);
    layout_->addWidget(currentRow_);

    error_ = label(this, "updateError");
    LabelStyle::smaller(error_);
    LabelStyle::orange(error_);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout_->addWidget(error_);

    lastChecked_ = label(this, "updateLastChecked");
    LabelStyle::caption(lastChecked_);
    layout_->addWidget(lastChecked_);

    divider_ = new QFrame(this);
    divider_->setFrameShape(QFrame::HLine);
    divider_->setFrameShadow(QFrame::Sunken);
    layout_->addWidget(divider_);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    releasePage_ = new QPushButton(this);
    releasePage_->setObjectName("updateReleasePage");
    releasePage_->setFlat(true);
    releasePage_->setAutoDefault(false);
    releasePage_->setCursor(Qt::PointingHandCursor);
    QPalette linkPalette = releasePage_->palette();
    linkPalette.setColor(QPalette::ButtonText, linkPalette.color(QPalette::Link));
    releasePage_->setPalette(linkPalette);
    checkAgain_ = new QPushButton(this);
    checkAgain_->setObjectName("updateCheckAgain");
    checkAgain_->setAutoDefault(false);
    done_ = new QPushButton(this);
    done_->setObjectName("updateDone");
    done_->setAutoDefault(false);
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

    setWindowTitle(text("Vessora updates"));
    title_->setText(text("Vessora updates"));
    installed_->setText(text("Installed: %@", {updates_.currentVersion()}));
    checking_->setText(text("Checking for updates…"));
    checkingRow_->setVisible(checking);

    // The status: the first case that applies.
    headline_->setText(newer ? text("Vessora %@ is available.", {latest->version}) : QString());
    headline_->setVisible(newer);
    requirement_->setText(
        newer ? text("This release requires macOS %@ or later.", {latest->minimumMacOS})
              : QString());
    requirementRow_->setVisible(newer && requiresNewer);
    download_->setText(text("Download update"));
    download_->setVisible(available);
    const bool homebrew = available && latest->homebrewAvailable;
    homebrewToggle_->setText(text("Update with Homebrew"));
    homebrewToggle_->setArrowType(homebrewToggle_->isChecked() ? Qt::DownArrow : Qt::RightArrow);
    homebrewToggle_->setVisible(homebrew);
    homebrewBox_->setVisible(homebrew && homebrewToggle_->isChecked());
    copyCommand_->setText(text("Copy command"));
    quitNote_->setText(text("Quit Vessora before replacing the app or running the upgrade. Its "
                            "environments will stop; project files and databases are kept."));
    quitNote_->setVisible(available);
    packagedOnly_->setText(text("Update checks are available in packaged app builds."));
    packagedOnly_->setVisible(!newer && !hasInstalled);
    current_->setText(text("No newer published version is available."));
    currentRow_->setVisible(!newer && hasInstalled && latest && !checking && !updates_.error());

    const auto& error = updates_.error();
    error_->setText(error ? QString::fromStdString(*error) : QString());
    error_->setVisible(error.has_value());

    const auto& lastChecked = updates_.lastChecked();
    lastChecked_->setText(lastChecked
                              ? text("Last checked: %@", {LocalizedDate::abbreviatedDateTime(
                                                              *lastChecked, preferences_.language())
                                                              .toStdString()})
                              : QString());
    lastChecked_->setVisible(lastChecked.has_value());

    releasePage_->setText(text("Release page"));
    checkAgain_->setText(text("Check again"));
    checkAgain_->setEnabled(!checking && hasInstalled);
    done_->setText(text("Done"));
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
