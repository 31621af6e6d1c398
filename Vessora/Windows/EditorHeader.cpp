#include "Vessora/Windows/EditorHeader.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Windows/EditorState.hpp"
#include "Vessora/Windows/EditorStyle.hpp"
#include "Vessora/Windows/ElidedLabel.hpp"
#include "Vessora/Windows/StatusDot.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vessora {

namespace {

// The second title size of the design (17 points beside 13).
constexpr double titleScale = 17.0 / 13.0;
// The status text is shortened only beyond this width.
constexpr int statusRoom = 180;

// `font` at `scale` times the application font's size.
QFont scaled(QFont font, double scale) {
    const QFont base = QApplication::font();
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * scale);
    else
        font.setPixelSize(std::max(1, static_cast<int>(base.pixelSize() * scale + 0.5)));
    return font;
}

QFont titleFont() {
    QFont font = scaled(QApplication::font(), titleScale);
    font.setWeight(QFont::DemiBold);
    return font;
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::WindowText, colour);
    widget->setPalette(palette);
}

} // namespace

EditorHeader::EditorHeader(const EditorState& state, QWidget* parent)
    : QWidget(parent), state_(state), name_(new ElidedLabel(this)), dot_(new StatusDot(this)),
      statusText_(new ElidedLabel(this)), address_(new QLabel(this)), start_(new QPushButton(this)),
      stop_(new QPushButton(this)), delete_(new QToolButton(this)) {
    setObjectName("editorHeader");
    name_->setObjectName("environmentName");
    name_->setFont(titleFont());
    dot_->setObjectName("statusDot");
    statusText_->setObjectName("statusText");
    FormStyle::makeCaption(statusText_);
    address_->setObjectName("addressLine");
    address_->setTextFormat(Qt::PlainText);
    address_->setFont(EditorStyle::monospacedCaption());
    address_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FormStyle::makeSecondary(address_);
    // The address may be shortened by a narrow window, never the buttons.
    address_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    start_->setObjectName("startButton");
    EditorStyle::setButtonIcon(start_, "media-playback-start", Qt::white);
    FormStyle::makeSmall(start_);
    FormStyle::makeProminent(start_);
    stop_->setObjectName("stopButton");
    EditorStyle::setButtonIcon(stop_, "media-playback-stop", palette().color(QPalette::ButtonText));
    stop_->setAutoDefault(false);
    FormStyle::makeSmall(stop_);
    delete_->setObjectName("deleteButton");
    EditorStyle::setButtonIcon(delete_, "user-trash", palette().color(QPalette::ButtonText), 14);
    delete_->setAutoRaise(true);

    // Short of room, the name gives way before a short status.
    auto* titleLine = new QHBoxLayout;
    titleLine->setSpacing(8);
    titleLine->addWidget(name_);
    titleLine->addWidget(dot_, 0, Qt::AlignVCenter);
    titleLine->addWidget(statusText_);
    titleLine->addStretch(1);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addLayout(titleLine);
    texts->addWidget(address_);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    row->addLayout(texts, 1);
    row->addSpacing(8);
    row->addWidget(start_);
    row->addWidget(stop_);
    row->addWidget(delete_);

    connect(start_, &QPushButton::clicked, this, &EditorHeader::start);
    connect(stop_, &QPushButton::clicked, this, &EditorHeader::stop);
    connect(delete_, &QToolButton::clicked, this, &EditorHeader::remove);
}

EditorHeader::StartConditions EditorHeader::startConditions(const EditorState& state) {
    const AppModel& model = state.model();
    StartConditions conditions;
    conditions.busy = model.busy();
    conditions.running = state.status().running;
    conditions.ready = state.ready();
    conditions.unsaved = state.unsaved();
    conditions.engine = model.hasEngine();
    conditions.hostnameWithoutAddresses = state.saved().hostname && !model.localHostReady();
    return conditions;
}

bool EditorHeader::startAllowed(const StartConditions& conditions) {
    return !conditions.busy && !conditions.running && conditions.ready && !conditions.unsaved &&
           conditions.engine && !conditions.hostnameWithoutAddresses;
}

bool EditorHeader::startEnabled(const EditorState& state) {
    return startAllowed(startConditions(state));
}

bool EditorHeader::stopEnabled(const EditorState& state) {
    return !state.model().busy() && !state.status().processes.empty();
}

bool EditorHeader::deleteEnabled(const EditorState& state) {
    return !state.model().busy();
}

std::string EditorHeader::addressLine(const EditorState& state) {
    const StackProfile& saved = state.saved();
    return saved.httpsURL().value_or(saved.url()) +
           " · MariaDB :" + std::to_string(saved.databasePort);
}

void EditorHeader::render() {
    const StackStatus status = state_.status();
    name_->setText(toQt(state_.saved().name));
    name_->setToolTip(toQt(state_.saved().name));
    dot_->setRunning(status.running);
    statusText_->setText(toQt(status.description));
    // Whole pixels may round the measured width short of what eliding needs.
    const int statusWidth = statusText_->fontMetrics().horizontalAdvance(statusText_->text()) + 2;
    statusText_->setMinimumWidth(std::min(statusRoom, statusWidth));
    statusText_->setToolTip(toQt(status.description));
    if (status.running)
        setTextColour(statusText_, StatusDot::runningColour());
    else
        FormStyle::makeSecondary(statusText_);
    address_->setText(toQt(addressLine(state_)));

    start_->setText(toQt(L10n::text("Start")));
    stop_->setText(toQt(L10n::text("Stop")));
    delete_->setToolTip(toQt(L10n::text("Delete environment…")));
    delete_->setAccessibleName(toQt(L10n::text("Delete environment")));
    start_->setEnabled(startEnabled(state_));
    stop_->setEnabled(stopEnabled(state_));
    delete_->setEnabled(deleteEnabled(state_));
}

void EditorHeader::start() {
    if (!startEnabled(state_))
        return;
    const std::string id = state_.saved().id;
    state_.model().perform(L10n::text("Starting %@…", {state_.saved().name}), true,
                           [id](AppEngine& engine) { engine.start(id); });
}

void EditorHeader::stop() {
    if (!stopEnabled(state_))
        return;
    const std::string id = state_.saved().id;
    state_.model().perform(L10n::text("Stopping %@…", {state_.saved().name}), true,
                           [id](AppEngine& engine) { engine.stop(id); });
}

void EditorHeader::remove() {
    if (!deleteEnabled(state_))
        return;
    AppModel& model = state_.model();
    model.setPendingDeletion(state_.saved());
    model.setShowDeleteConfirmation(true);
}

} // namespace vessora
