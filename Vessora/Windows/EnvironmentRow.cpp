#include "Vessora/Windows/EnvironmentRow.hpp"

#include "Vessora/Windows/Appearance.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vessora {

namespace {

std::string withoutEvery(std::string text, const std::string& part) {
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at))
        text.erase(at, part.size());
    return text;
}

} // namespace

EnvironmentRow::EnvironmentRow(QWidget* parent)
    : QWidget(parent), dot_(new QWidget(this)), name_(new QLabel(this)),
      versions_(new QLabel(this)) {
    setObjectName("environmentRow");
    dot_->setObjectName("environmentStatusDot");
    name_->setObjectName("environmentName");
    versions_->setObjectName("environmentVersions");
    dot_->setFixedSize(6, 6);
    QFont font = name_->font();
    font.setWeight(QFont::Medium);
    name_->setFont(font);
    Appearance::makeCaption(versions_);
    // One line each; a long name is cut with an ellipsis.
    for (QLabel* label : {name_, versions_}) {
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        label->setTextFormat(Qt::PlainText);
    }
    // Clicks reach the list.
    setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(name_);
    texts->addWidget(versions_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 3, 8, 3);
    row->setSpacing(8);
    row->addWidget(dot_, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
}

void EnvironmentRow::render(const StackProfile& profile, bool running) {
    nameText_ = QString::fromStdString(profile.name);
    versionText_ = QString::fromStdString(versionLine(profile));
    name_->setToolTip(nameText_);
    fitTexts();
    QColor color = running ? QColor(52, 199, 89) : palette().color(QPalette::WindowText);
    if (!running)
        color.setAlphaF(0.4f);
    dot_->setProperty("running", running);
    dot_->setStyleSheet(
        QString("background-color: %1; border-radius: 3px;").arg(Appearance::css(color)));
}

void EnvironmentRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitTexts();
}

void EnvironmentRow::fitTexts() {
    Appearance::setElidedText(name_, nameText_);
    Appearance::setElidedText(versions_, versionText_);
}

std::string EnvironmentRow::versionLine(const StackProfile& profile) {
    return L10n::text("PHP %@ · MariaDB %@", {withoutEvery(profile.php, "php@"),
                                              withoutEvery(profile.mariaDB, "mariadb@")});
}

} // namespace vessora
