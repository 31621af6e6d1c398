#include "Vessora/Controls/LocalAddressField.hpp"

#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraHostProtocol/LocalHostname.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <exception>

namespace vessora {

namespace {

bool endsWithLocal(std::string hostname) {
    std::transform(hostname.begin(), hostname.end(), hostname.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string suffix = ".local";
    return hostname.size() >= suffix.size() &&
           hostname.compare(hostname.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

LocalAddressField::LocalAddressField(AppPreferences& preferences, QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), withoutPort_(new QCheckBox(this)),
      message_(new QLabel(this)) {
    edit_->setObjectName("hostnameField");
    withoutPort_->setObjectName("withoutPortNumber");
    message_->setObjectName("hostnameMessage");
    FormStyle::makeSmall(edit_);
    FormStyle::makeSmall(withoutPort_);
    FormStyle::makeCaption(message_);
    FormStyle::makeWrapping(message_);
    withoutPort_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);
    column->addWidget(edit_);
    column->addWidget(withoutPort_);
    column->addWidget(message_);

    // textEdited and clicked come from the user only.
    connect(edit_, &QLineEdit::textEdited, this,
            [this](const QString& typed) { apply(edited(typed.toStdString(), value_)); });
    connect(withoutPort_, &QCheckBox::clicked, this, [this](bool checked) {
        Value next = value_;
        next.standardPorts = checked;
        apply(next);
    });
    connect(&preferences, &AppPreferences::changed, this, &LocalAddressField::render);
    render();
}

LocalAddressField::Value LocalAddressField::edited(const std::string& text, Value current) {
    Value next = current;
    next.hostname = text.empty() ? std::nullopt : std::optional(text);
    next.virtualHost = LocalHostname::normalized(next.hostname).has_value();
    if (!next.virtualHost)
        next.standardPorts = false;
    return next;
}

std::optional<std::string>
LocalAddressField::validation(const std::optional<std::string>& hostname) {
    const auto normalized = LocalHostname::normalized(hostname);
    if (!normalized)
        return std::nullopt;
    try {
        LocalHostname::validate(*normalized);
        return std::nullopt;
    } catch (const std::exception&) {
        return L10n::text("Use a local hostname such as project.test (letters, numbers and "
                          "hyphens).");
    }
}

void LocalAddressField::setValue(Value value) {
    if (value == value_)
        return;
    value_ = std::move(value);
    render();
}

void LocalAddressField::apply(Value value) {
    const bool changed = !(value == value_);
    value_ = std::move(value);
    render();
    if (changed)
        emit valueEdited();
}

void LocalAddressField::render() {
    const QSignalBlocker blockEdit(edit_);
    const QSignalBlocker blockBox(withoutPort_);
    // Replacing equal text would only move the cursor to the end.
    const QString shown = QString::fromStdString(value_.hostname.value_or(""));
    if (edit_->text() != shown)
        edit_->setText(shown);
    edit_->setPlaceholderText(toQt(L10n::text("Optional, e.g. project.test")));
    edit_->setAccessibleName(toQt(L10n::text("Hostname")));

    withoutPort_->setText(toQt(L10n::text("Without port number")));
    withoutPort_->setToolTip(
        toQt(L10n::text("Share ports 80 and 443 across environments using their "
                        "hostnames. Requires local host setup.")));
    withoutPort_->setChecked(value_.standardPorts);
    withoutPort_->setVisible(value_.hostname.has_value());

    if (const auto problem = validation(value_.hostname)) {
        message_->setText(QString::fromStdString(*problem));
        FormStyle::makeWarning(message_);
        message_->setVisible(true);
    } else if (value_.hostname && endsWithLocal(*value_.hostname)) {
        message_->setText(toQt(
            L10n::text(".local is also used by multicast DNS (mDNS). We recommend .test for local "
                       "projects.")));
        FormStyle::makeSecondary(message_);
        message_->setVisible(true);
    } else {
        message_->clear();
        message_->setVisible(false);
    }
}

} // namespace vessora
