#include "Vessora/Windows/EmptyState.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Windows/Appearance.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vessora {

EmptyState::EmptyState(AppModel& model, AppPreferences& preferences, QWidget* parent)
    : QWidget(parent), model_(model), title_(new QLabel(this)), description_(new QLabel(this)),
      create_(new QPushButton(this)) {
    setObjectName("emptyState");
    auto* icon = new QLabel(this);
    icon->setPixmap(Icons::named("applications-system").pixmap(48, 48, QIcon::Disabled));
    icon->setAlignment(Qt::AlignCenter);
    title_->setObjectName("emptyStateTitle");
    QFont font = title_->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setWeight(QFont::DemiBold);
    title_->setFont(font);
    title_->setAlignment(Qt::AlignCenter);
    description_->setObjectName("emptyStateDescription");
    description_->setWordWrap(true);
    description_->setAlignment(Qt::AlignCenter);
    Appearance::setTextColor(description_, Appearance::secondary(description_->palette()));
    create_->setObjectName("emptyStateNewButton");
    create_->setDefault(true);
    // The prominent style: the accent behind white text.
    create_->setStyleSheet(
        QString("QPushButton { background-color: %1; color: white; border: none; "
                "border-radius: 6px; padding: 6px 14px; }"
                "QPushButton:disabled { background-color: %2; }")
            .arg(Appearance::css(Appearance::accent()),
                 Appearance::css(Appearance::secondary(palette()))));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 48, 24, 24);
    layout->setSpacing(8);
    layout->addWidget(icon);
    layout->addWidget(title_);
    layout->addWidget(description_);
    layout->addSpacing(6);
    layout->addWidget(create_, 0, Qt::AlignHCenter);

    connect(create_, &QPushButton::clicked, this, [this] { model_.setShowCreate(true); });
    connect(&model_, &AppModel::changed, this, &EmptyState::render);
    connect(&preferences, &AppPreferences::changed, this, &EmptyState::render);
    render();
}

void EmptyState::render() {
    title_->setText(toQt(L10n::text("No environments")));
    description_->setText(toQt(
        L10n::text("Create an environment to choose your server, PHP, and MariaDB versions.")));
    create_->setText(toQt(L10n::text("New environment")));
    create_->setEnabled(!model_.busy() && model_.hasEngine());
}

} // namespace vessora
