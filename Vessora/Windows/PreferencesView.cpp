#include "Vessora/Windows/PreferencesView.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Updates/ProductSite.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace vessora {

namespace {

QLabel* caption(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    FormStyle::makeCaption(label);
    FormStyle::makeSecondary(label);
    FormStyle::makeWrapping(label);
    return label;
}

} // namespace

PreferencesView::PreferencesView(AppPreferences& preferences, AppUpdates& updates, QWidget* parent)
    : QWidget(parent), preferences_(preferences), updates_(updates), layout_(new QVBoxLayout(this)),
      heading_(new QLabel(this)), language_(new QComboBox(this)),
      languageCaption_(caption(this, "languageCaption")),
      dialogsCaption_(caption(this, "dialogsCaption")), automatic_(new QCheckBox(this)),
      automaticCaption_(caption(this, "automaticChecksCaption")), checkNow_(new QPushButton(this)),
      error_(new QLabel(this)) {
    setObjectName("preferencesView");
    heading_->setObjectName("languageHeading");
    language_->setObjectName("languagePicker");
    automatic_->setObjectName("automaticChecks");
    checkNow_->setObjectName("checkForUpdates");
    error_->setObjectName("preferencesError");

    FormStyle::makeSectionTitle(heading_);
    // The languages under their own names, never translated.
    for (AppLanguage language : AppLanguages::allCases)
        language_->addItem(toQt(AppLanguages::name(language)));
    language_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    for (QWidget* control : std::initializer_list<QWidget*>{language_, automatic_, checkNow_})
        FormStyle::makeSmall(control);
    checkNow_->setAutoDefault(false);
    error_->setTextFormat(Qt::PlainText);
    FormStyle::makeCaption(error_);
    FormStyle::makeWarning(error_);
    FormStyle::makeWrapping(error_);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    layout_->setContentsMargins(20, 20, 20, 20);
    layout_->setSpacing(12);
    layout_->addWidget(heading_);
    layout_->addWidget(language_);
    layout_->addWidget(languageCaption_);
    layout_->addWidget(dialogsCaption_);
    layout_->addWidget(divider);
    layout_->addWidget(automatic_);
    layout_->addWidget(automaticCaption_);
    layout_->addWidget(checkNow_, 0, Qt::AlignLeft);
    layout_->addWidget(error_);
    layout_->addStretch(1);
    setFixedWidth(viewWidth);

    // A setter reports a failed store synchronously through storeError().
    connect(&preferences, &AppPreferences::storeError, this,
            [this](const QString& message) { storeError_ = message; });
    connect(language_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= static_cast<int>(AppLanguages::allCases.size()))
            return;
        storeError_.reset();
        preferences_.setLanguage(AppLanguages::allCases[static_cast<std::size_t>(index)]);
    });
    connect(automatic_, &QCheckBox::toggled, this, [this](bool enabled) {
        storeError_.reset();
        preferences_.setAutomaticUpdateChecks(enabled);
    });
    connect(checkNow_, &QPushButton::clicked, this, [this] { updates_.checkManually(); });
    connect(&preferences, &AppPreferences::changed, this, &PreferencesView::render);
    connect(&updates, &AppUpdates::changed, this, &PreferencesView::render);
    render();
}

void PreferencesView::render() {
    setLocale(QLocale(toQt(preferences_.languageCode())));
    heading_->setText(toQt(L10n::text("Language")));
    language_->setAccessibleName(toQt(L10n::text("App language")));
    {
        const QSignalBlocker blocker(language_);
        const auto& languages = AppLanguages::allCases;
        const auto chosen = std::find(languages.begin(), languages.end(), preferences_.language());
        language_->setCurrentIndex(static_cast<int>(chosen - languages.begin()));
    }
    languageCaption_->setText(toQt(L10n::text("Changes apply immediately. Environment names and "
                                              "project files keep their original language.")));
    dialogsCaption_->setText(
        toQt(L10n::text("Standard texts such as text-field menus use the selected "
                        "language after restarting Vessora.")));
    {
        const QSignalBlocker blocker(automatic_);
        automatic_->setChecked(preferences_.automaticUpdateChecks());
    }
    automatic_->setText(toQt(L10n::text("Check for updates automatically")));
    automaticCaption_->setText(
        toQt(L10n::text("Checks %@ at most once a day. Only release metadata is requested; your "
                        "projects and databases stay on this computer.",
                        {std::string(ProductSite::host)})));
    checkNow_->setText(toQt(L10n::text("Check for Updates…")));
    checkNow_->setEnabled(!updates_.isChecking());
    error_->setText(storeError_.value_or(QString()));
    error_->setVisible(storeError_.has_value());
    layout_->invalidate();
    setMinimumHeight(neededHeight());
    updateGeometry();
    // Shown as a window of its own, it follows its content's size.
    if (isWindow())
        resize(sizeHint());
}

int PreferencesView::neededHeight() const {
    // Wrapped captions need the height that belongs to the fixed width.
    const int height = layout_->hasHeightForWidth() ? layout_->heightForWidth(viewWidth)
                                                    : layout_->sizeHint().height();
    return std::max(viewMinimumHeight, height);
}

QSize PreferencesView::sizeHint() const {
    return {viewWidth, neededHeight()};
}

} // namespace vessora
