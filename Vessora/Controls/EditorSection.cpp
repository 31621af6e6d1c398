#include "Vessora/Controls/EditorSection.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace vessora {

namespace {

constexpr int padding = 14;
constexpr int spacing = 12;
constexpr qreal cornerRadius = 10;

} // namespace

EditorSection::EditorSection(AppPreferences& preferences, std::string titleKey, QWidget* parent)
    : QFrame(parent), titleKey_(std::move(titleKey)), title_(new QLabel(this)),
      content_(new QVBoxLayout) {
    setObjectName("editorSection");
    title_->setObjectName("sectionTitle");
    FormStyle::makeSectionTitle(title_);
    FormStyle::makeSecondary(title_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(spacing);
    column->addWidget(title_);
    content_->setContentsMargins(0, 0, 0, 0);
    column->addLayout(content_);
    column->addStretch(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    connect(&preferences, &AppPreferences::changed, this, &EditorSection::render);
    render();
}

void EditorSection::setContent(QWidget* content) {
    content_->addWidget(content);
}

void EditorSection::render() {
    title_->setText(QString::fromStdString(L10n::text(titleKey_)));
}

void EditorSection::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF panel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(panel, cornerRadius, cornerRadius);
    // The card keeps its fill and outline while its rows are disabled.
    painter.fillPath(shape, palette().color(QPalette::Active, QPalette::Base));
    QColor outline = palette().color(QPalette::Active, QPalette::WindowText);
    outline.setAlphaF(0.06f);
    painter.setPen(QPen(outline, 1));
    painter.drawPath(shape);
}

} // namespace vessora
