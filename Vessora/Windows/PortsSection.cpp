#include "Vessora/Windows/PortsSection.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/FormStyle.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Windows/EditorState.hpp"
#include "Vessora/Windows/ProfileDraft.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QVBoxLayout>

namespace vessora {

namespace {

QLocale portLocale() {
    QLocale locale(toQt(AppLanguages::id(L10n::language())));
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

} // namespace

PortsSection::PortsSection(const EditorState& state, AppPreferences& preferences, QWidget* parent)
    : EditorSection(preferences, "Ports", parent), state_(state) {
    setObjectName("portsSection");
    setFixedWidth(sectionWidth);

    auto* body = new QWidget(this);
    grid_ = new QGridLayout(body);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setHorizontalSpacing(12);
    grid_->setVerticalSpacing(10);
    grid_->setColumnStretch(2, 1);
    contentLayout()->addWidget(body);

    http_ = addRow("httpPort");
    https_ = addRow("httpsPort");
    php_ = addRow("phpPort");
    database_ = addRow("databasePort");
    bind(http_, Port::http);
    bind(https_, Port::https);
    bind(php_, Port::php);
    bind(database_, Port::database);

    auto* noteRow = new QHBoxLayout;
    noteRow->setSpacing(4);
    lock_ = new QLabel(this);
    lock_->setObjectName("localhostLock");
    note_ = new QLabel(this);
    note_->setObjectName("localhostNote");
    FormStyle::makeCaption(note_);
    FormStyle::makeSecondary(note_);
    const int size = note_->fontMetrics().height();
    lock_->setPixmap(
        Icons::symbolic("changes-prevent", note_->palette().color(QPalette::WindowText))
            .pixmap(size, size));
    FormStyle::makeWrapping(note_);
    noteRow->addWidget(lock_, 0, Qt::AlignVCenter);
    noteRow->addWidget(note_, 1);
    contentLayout()->addLayout(noteRow);
}

QString PortsSection::portText(std::int64_t port) {
    return portLocale().toString(static_cast<qlonglong>(port));
}

std::optional<std::int64_t> PortsSection::parsePort(const QString& text) {
    bool ok = false;
    const qlonglong value = portLocale().toLongLong(text.trimmed(), &ok);
    if (!ok)
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

PortsSection::Row PortsSection::addRow(const char* name) {
    const int row = grid_->rowCount();
    Row result;
    result.label = new QLabel(grid_->parentWidget());
    result.label->setObjectName(QString(name) + "Label");
    FormStyle::makeSmall(result.label);
    FormStyle::makeSecondary(result.label);
    result.field = new QLineEdit(grid_->parentWidget());
    result.field->setObjectName(QString(name) + "Field");
    result.field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    result.field->setFixedWidth(fieldWidth);
    FormStyle::makeSmall(result.field);
    grid_->addWidget(result.label, row, 0, Qt::AlignLeft | Qt::AlignVCenter);
    grid_->addWidget(result.field, row, 1, Qt::AlignLeft | Qt::AlignVCenter);
    return result;
}

void PortsSection::bind(const Row& row, Port port) {
    ProfileDraft& draft = state_.draft();
    connect(row.field, &QLineEdit::textEdited, &draft, [&draft, port](const QString& text) {
        const auto value = parsePort(text);
        if (!value)
            return;
        draft.edit([&](StackProfile& profile) {
            switch (port) {
            case Port::http:
                profile.httpPort = *value;
                break;
            case Port::https:
                profile.httpsPort = *value;
                break;
            case Port::php:
                profile.phpPort = *value;
                break;
            case Port::database:
                profile.databasePort = *value;
                break;
            }
        });
    });
    // Text the user left unreadable goes back to the draft's port.
    connect(row.field, &QLineEdit::editingFinished, this, &PortsSection::render);
}

std::int64_t PortsSection::shownValue(Port port) const {
    const StackProfile& profile = state_.draft().profile();
    switch (port) {
    case Port::http:
        return profile.httpPort;
    case Port::https:
        return profile.httpsPort.value_or(state_.model().suggestedHTTPSPort());
    case Port::php:
        return profile.phpPort;
    case Port::database:
        return profile.databasePort;
    }
    return 0;
}

void PortsSection::renderRow(const Row& row, const std::string& title, const std::string& shown,
                             std::int64_t value) {
    row.label->setText(toQt(shown));
    const QString name = toQt(L10n::text("%@ port", {title}));
    row.field->setPlaceholderText(name);
    row.field->setAccessibleName(name);
    // While the user types, the text is theirs: a number is already in the
    // draft, anything else waits until the field loses focus.
    if (row.field->hasFocus()) {
        const auto typed = parsePort(row.field->text());
        if (!typed || *typed == value)
            return;
    }
    const QString wanted = portText(value);
    if (row.field->text() != wanted)
        row.field->setText(wanted);
}

void PortsSection::render() {
    EditorSection::render();
    const StackProfile& profile = state_.draft().profile();
    const bool routed = profile.virtualHost;
    if (routed) {
        renderRow(http_, "Internal HTTP", L10n::text("Internal HTTP"), shownValue(Port::http));
        renderRow(https_, "Internal HTTPS", L10n::text("Internal HTTPS"), shownValue(Port::https));
    } else {
        renderRow(http_, "HTTP", L10n::text("HTTP"), shownValue(Port::http));
        renderRow(https_, "HTTPS", L10n::text("HTTPS"), shownValue(Port::https));
    }
    https_.label->setVisible(profile.httpsEnabled);
    https_.field->setVisible(profile.httpsEnabled);
    renderRow(php_, "PHP-FPM", L10n::text("PHP-FPM"), shownValue(Port::php));
    renderRow(database_, "MariaDB", L10n::text("MariaDB"), shownValue(Port::database));
    note_->setText(toQt(L10n::text("Localhost only")));
}

} // namespace vessora
