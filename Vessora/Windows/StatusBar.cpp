#include "Vessora/Windows/StatusBar.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Windows/Appearance.hpp"
#include "Vessora/Windows/BusyIndicator.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace vessora {

StatusBar::StatusBar(AppModel& model, AppPreferences& preferences, QWidget* parent)
    : QWidget(parent), model_(model), busy_(new BusyIndicator(this)), idle_(new QLabel(this)),
      activity_(new QLabel(this)), refresh_(new QPushButton(this)),
      stopAll_(new QPushButton(this)) {
    setObjectName("statusBar");
    busy_->setObjectName("busyIndicator");
    idle_->setObjectName("idleIcon");
    activity_->setObjectName("activityText");
    refresh_->setObjectName("refreshPackagesButton");
    stopAll_->setObjectName("stopAllButton");

    idle_->setPixmap(Icons::named("emblem-default").pixmap(16, 16, QIcon::Disabled));
    Appearance::makeCaption(activity_);
    // The text gives way to the buttons; it is elided, never wrapped.
    activity_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    activity_->setMinimumWidth(40);
    refresh_->setIcon(Icons::named("view-refresh"));
    stopAll_->setIcon(Icons::named("media-playback-stop"));
    for (QPushButton* button : {refresh_, stopAll_})
        button->setFont(Appearance::caption(button->font()));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(18, 10, 18, 10);
    row->setSpacing(10);
    row->addWidget(busy_);
    row->addWidget(idle_);
    row->addWidget(activity_, 1);
    row->addSpacing(8);
    row->addWidget(refresh_);
    row->addWidget(stopAll_);

    connect(refresh_, &QPushButton::clicked, this, [this] { model_.refreshPackages(); });
    connect(stopAll_, &QPushButton::clicked, this, &StatusBar::stopAll);
    connect(&model_, &AppModel::changed, this, &StatusBar::render);
    connect(&preferences, &AppPreferences::changed, this, &StatusBar::render);
    render();
}

void StatusBar::render() {
    const bool busy = model_.busy();
    const bool refreshing = model_.refreshingPackages();
    busy_->setVisible(busy || refreshing);
    idle_->setVisible(!(busy || refreshing));
    // A stored English key is translated now; a text stored already
    // translated is no key and comes back unchanged.
    activityText_ = QString::fromStdString(refreshing && !busy ? L10n::text("Checking packages…")
                                                               : L10n::text(model_.activity()));
    activity_->setToolTip(toQt(L10n::text(model_.activity())));
    fitActivity();
    refresh_->setText(toQt(L10n::text("Refresh packages")));
    refresh_->setEnabled(!busy && !refreshing);
    stopAll_->setText(toQt(L10n::text("Stop all")));
    stopAll_->setEnabled(!busy && model_.anyRunning());
}

void StatusBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitActivity();
}

void StatusBar::fitActivity() {
    Appearance::setElidedText(activity_, activityText_);
}

void StatusBar::stopAll() {
    model_.perform(L10n::text("Stopping all environments…"), true,
                   [](AppEngine& engine) { engine.stopAll(); });
}

} // namespace vessora
