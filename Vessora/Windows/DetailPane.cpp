#include "Vessora/Windows/DetailPane.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Windows/Appearance.hpp"
#include "Vessora/Windows/EditorSlot.hpp"
#include "Vessora/Windows/EmptyState.hpp"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

namespace vessora {

namespace {

const QColor orange(230, 126, 0);

} // namespace

DetailPane::DetailPane(AppModel& model, AppPreferences& preferences, QWidget* parent)
    : QWidget(parent), model_(model), layout_(new QVBoxLayout(this)),
      editor_(new EditorSlot(model, preferences, this)),
      empty_(new EmptyState(model, preferences, this)), errorBox_(new QWidget(this)),
      errorText_(new QLabel(errorBox_)), installLog_(new QPlainTextEdit(this)) {
    setObjectName("detailPane");
    // The error: a warning sign and the text unchanged, on a light orange.
    errorBox_->setObjectName("errorBox");
    errorBox_->setAttribute(Qt::WA_StyledBackground);
    QColor tint = orange;
    tint.setAlphaF(0.08f);
    errorBox_->setStyleSheet(
        QString("QWidget#errorBox { background-color: %1; border-radius: 8px; }")
            .arg(Appearance::css(tint)));
    auto* sign = new QLabel(errorBox_);
    sign->setPixmap(Icons::named("dialog-warning").pixmap(16, 16));
    errorText_->setObjectName("errorText");
    errorText_->setTextFormat(Qt::PlainText);
    errorText_->setWordWrap(true);
    errorText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    errorText_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Appearance::setTextColor(errorText_, orange.darker(110));
    auto* errorRow = new QHBoxLayout(errorBox_);
    errorRow->setContentsMargins(12, 12, 12, 12);
    errorRow->setSpacing(8);
    errorRow->addWidget(sign, 0, Qt::AlignTop);
    errorRow->addWidget(errorText_, 1);

    // The install log: its end, monospaced, scrolled to the newest line.
    installLog_->setObjectName("installLog");
    installLog_->setReadOnly(true);
    installLog_->setFrameShape(QFrame::NoFrame);
    installLog_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    installLog_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono = Appearance::caption(mono);
    installLog_->setFont(mono);
    installLog_->setFixedHeight(QFontMetrics(mono).lineSpacing() * 10 + 20);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.06f);
    installLog_->setStyleSheet(
        QString("QPlainTextEdit#installLog { background-color: %1; border-radius: 8px; "
                "padding: 10px; }")
            .arg(Appearance::css(fill)));

    layout_->setContentsMargins(18, 18, 18, 18);
    layout_->setSpacing(14);
    layout_->addWidget(editor_);
    layout_->addWidget(empty_);
    layout_->addWidget(errorBox_);
    layout_->addWidget(installLog_);
    layout_->addStretch(1);

    connect(&model_, &AppModel::changed, this, &DetailPane::render);
    connect(&preferences, &AppPreferences::changed, this, &DetailPane::render);
    render();
}

void DetailPane::setBanner(QWidget* banner) {
    // Straight into the column, so a hidden banner takes no room.
    layout_->insertWidget(0, banner);
}

void DetailPane::render() {
    const auto selected = model_.selectedProfile();
    editor_->showRecord(selected);
    editor_->setVisible(selected.has_value());
    empty_->setVisible(!selected);

    const bool showError = model_.error().has_value();
    const QString error = QString::fromStdString(model_.error().value_or(""));
    const bool errorAppears = showError && (errorBox_->isHidden() || errorText_->text() != error);
    errorBox_->setVisible(showError);
    if (errorText_->text() != error)
        errorText_->setText(error);

    const bool showLog = model_.busy() && !model_.installLog().empty();
    const bool logAppears = showLog && installLog_->isHidden();
    installLog_->setVisible(showLog);
    const QString log = QString::fromStdString(model_.installLog());
    if (installLog_->toPlainText() != log) {
        installLog_->setPlainText(log);
        installLog_->verticalScrollBar()->setValue(installLog_->verticalScrollBar()->maximum());
    }
    // The error last: it is the one to read when both arrive together.
    if (logAppears)
        emit revealRequested(installLog_);
    if (errorAppears)
        emit revealRequested(errorBox_);
}

void DetailPane::revealNotices() {
    if (!installLog_->isHidden())
        emit revealRequested(installLog_);
    if (!errorBox_->isHidden())
        emit revealRequested(errorBox_);
}

} // namespace vessora
