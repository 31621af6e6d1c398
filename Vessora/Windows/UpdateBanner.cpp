#include "Vessora/Windows/UpdateBanner.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Windows/CircledSymbol.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>

namespace vessora {

namespace {

QColor mint() {
    return QColor(0, 190, 180);
}

} // namespace

UpdateBanner::UpdateBanner(AppUpdates& updates, AppPreferences& preferences, QWidget* parent)
    : QWidget(parent), updates_(updates), symbol_(new QLabel(this)), message_(new QLabel(this)),
      details_(new QPushButton(this)), close_(new QToolButton(this)) {
    setObjectName("updateBanner");
    symbol_->setObjectName("updateBannerSymbol");
    message_->setObjectName("updateBannerMessage");
    details_->setObjectName("updateBannerDetails");
    close_->setObjectName("updateBannerClose");

    symbol_->setPixmap(drawCircledSymbol(CircledSymbol::arrowDown, mint()));
    message_->setTextFormat(Qt::PlainText);
    FormStyle::makeSmall(message_);
    FormStyle::makeWrapping(message_);
    FormStyle::makeSmall(details_);
    details_->setAutoDefault(false);
    close_->setIcon(Icons::named("window-close-symbolic"));
    close_->setAutoRaise(true);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 8, 8, 8);
    row->setSpacing(8);
    row->addWidget(symbol_);
    row->addWidget(message_, 1);
    row->addWidget(details_);
    row->addWidget(close_);

    connect(details_, &QPushButton::clicked, this, [this] { updates_.presentDetails(); });
    connect(close_, &QToolButton::clicked, this, [this] { updates_.setDismissed(true); });
    connect(&updates, &AppUpdates::changed, this, &UpdateBanner::render);
    connect(&preferences, &AppPreferences::changed, this, &UpdateBanner::render);
    render();
}

void UpdateBanner::render() {
    const auto availability = updates_.availability();
    const auto& latest = updates_.latest();
    const bool newer = availability == UpdateAvailability::available ||
                       availability == UpdateAvailability::requiresNewerMacOS;
    const bool shown = newer && !updates_.dismissed() && latest;

    message_->setText(
        toQt(L10n::text("Vessora %@ is available.", {latest ? latest->version : ""})));
    details_->setText(toQt(L10n::text("Details…")));
    const QString remind = toQt(L10n::text("Remind me next time"));
    close_->setToolTip(remind);
    close_->setAccessibleName(remind);
    setVisible(shown);
}

void UpdateBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor tint = mint();
    tint.setAlphaF(0.13f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    painter.fillPath(shape, tint);
}

} // namespace vessora
