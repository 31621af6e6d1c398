#include "Vessora/Windows/EditorDetails.hpp"

#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Windows/EditorState.hpp"
#include "Vessora/Windows/EditorStyle.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace vessora {

namespace {

QLabel* selectableLine(QWidget* parent, const char* objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setFont(EditorStyle::monospacedCaption());
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    // A long path wraps at any character rather than widening the editor.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

} // namespace

EditorDetails::EditorDetails(const EditorState& state, QWidget* parent)
    : QWidget(parent), state_(state), toggle_(new QToolButton(this)), content_(new QWidget(this)),
      webPath_(selectableLine(content_, "webPath")),
      processes_(selectableLine(content_, "processList")), note_(new QLabel(content_)) {
    setObjectName("editorDetails");
    toggle_->setObjectName("detailsToggle");
    toggle_->setAutoRaise(true);
    toggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    FormStyle::makeCaption(toggle_);
    content_->setObjectName("detailsContent");
    note_->setObjectName("detailsNote");
    FormStyle::makeCaption(note_);
    FormStyle::makeSecondary(note_);
    FormStyle::makeWrapping(note_);

    auto* inner = new QVBoxLayout(content_);
    inner->setContentsMargins(0, 7, 0, 0);
    inner->setSpacing(7);
    inner->addWidget(webPath_);
    inner->addWidget(processes_);
    inner->addWidget(note_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(toggle_, 0, Qt::AlignLeft);
    column->addWidget(content_);

    connect(toggle_, &QToolButton::clicked, this,
            [this] { state_.draft().setShowDetails(!state_.draft().showDetails()); });
}

std::string EditorDetails::processList(const StackStatus& status) {
    std::string text;
    // The map keeps the service names in ascending order.
    for (const auto& [service, pid] : status.processes) {
        if (!text.empty())
            text += " · ";
        text += service + ": " + std::to_string(pid);
    }
    return text;
}

void EditorDetails::render() {
    const bool expanded = state_.draft().showDetails();
    toggle_->setText(toQt(L10n::text("Environment details")));
    toggle_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    content_->setVisible(expanded);

    webPath_->setText(toQt(state_.savedPaths().web().string()));
    const StackStatus status = state_.status();
    processes_->setVisible(status.running);
    processes_->setText(status.running ? toQt(processList(status)) : QString());
    note_->setText(toQt(L10n::text("Each environment has separate files, configuration, and "
                                   "databases. Closing Vessora stops its services. Homebrew "
                                   "packages and libraries are shared.")));
}

} // namespace vessora
