#include "Vessora/Windows/Sidebar.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/Branding.hpp"
#include "Vessora/App/DesktopOpening.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Windows/Appearance.hpp"
#include "Vessora/Windows/EnvironmentRow.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace vessora {

namespace {

constexpr int idRole = Qt::UserRole;

// The logo at 28 by 28 with rounded corners.
QPixmap roundedLogo(const QPixmap& image, qreal scale) {
    const int side = 28;
    QPixmap result(QSize(side, side) * scale);
    result.setDevicePixelRatio(scale);
    result.fill(Qt::transparent);
    if (image.isNull())
        return result;
    QPainter painter(&result);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, side, side), 7, 7);
    painter.setClipPath(clip);
    painter.drawPixmap(QRectF(0, 0, side, side), image, QRectF(image.rect()));
    return result;
}

// The list makes any pressed row current, which would select it and rebuild
// the editor, dropping the unsaved edits of the selected one. A right click
// only opens the row's menu (a separate event), so its press goes nowhere.
class RightClickKeepsSelection : public QObject {
public:
    explicit RightClickKeepsSelection(QObject* parent) : QObject(parent) {}

    bool eventFilter(QObject*, QEvent* event) override {
        const QEvent::Type type = event->type();
        return (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
                type == QEvent::MouseButtonDblClick) &&
               static_cast<QMouseEvent*>(event)->button() == Qt::RightButton;
    }
};

} // namespace

Sidebar::Sidebar(AppModel& model, AppPreferences& preferences, QWidget* parent)
    : QWidget(parent), model_(model), logo_(new QLabel(this)), name_(new QLabel(this)),
      headerNew_(new QToolButton(this)), section_(new QLabel(this)), list_(new QListWidget(this)),
      count_(new QLabel(this)), footerNew_(new QToolButton(this)), import_(new QPushButton(this)),
      support_(new QPushButton(this)), supportText_(new QLabel(support_)) {
    setObjectName("sidebar");
    // A shade apart from the detail column.
    setAutoFillBackground(true);
    QPalette shaded = palette();
    shaded.setColor(QPalette::Window, shaded.color(QPalette::Window).darker(104));
    setPalette(shaded);
    setMinimumWidth(200);
    setMaximumWidth(270);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildHeader(layout);

    section_->setObjectName("environmentsSection");
    Appearance::makeCaption(section_);
    QFont sectionFont = section_->font();
    sectionFont.setBold(true);
    section_->setFont(sectionFont);
    section_->setContentsMargins(14, 4, 14, 4);
    layout->addWidget(section_);

    list_->setObjectName("environmentList");
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setSpacing(0);
    // A light accent behind the selected row keeps its texts and its
    // status dot readable.
    QColor selected = Appearance::accent();
    selected.setAlphaF(0.28f);
    QColor hovered = Appearance::accent();
    hovered.setAlphaF(0.10f);
    list_->setStyleSheet(QString("QListWidget { background: transparent; }"
                                 "QListWidget::item { margin: 0px 6px; border-radius: 6px; }"
                                 "QListWidget::item:selected { background: %1; }"
                                 "QListWidget::item:hover:!selected { background: %2; }")
                             .arg(Appearance::css(selected), Appearance::css(hovered)));
    layout->addWidget(list_, 1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);
    buildFooter(layout);

    connect(list_, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* current) { selectionMoved(current); });
    connect(list_, &QWidget::customContextMenuRequested, this, &Sidebar::showContextMenu);
    list_->viewport()->installEventFilter(new RightClickKeepsSelection(list_));
    connect(&model_, &AppModel::changed, this, &Sidebar::render);
    connect(&preferences, &AppPreferences::changed, this, &Sidebar::render);
    render();
}

void Sidebar::buildHeader(QLayout* layout) {
    logo_->setObjectName("sidebarLogo");
    logo_->setFixedSize(28, 28);
    logo_->setPixmap(roundedLogo(Branding::icon(), devicePixelRatioF()));
    name_->setObjectName("sidebarTitle");
    name_->setText("Vessora");
    QFont font = name_->font();
    font.setPointSizeF(13);
    font.setWeight(QFont::DemiBold);
    name_->setFont(font);
    Appearance::setTextColor(name_, Appearance::accent());
    headerNew_->setObjectName("headerNewButton");
    headerNew_->setIcon(Icons::named("list-add"));
    headerNew_->setAutoRaise(true);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(14, 12, 14, 12);
    row->setSpacing(9);
    row->addWidget(logo_);
    row->addWidget(name_);
    row->addStretch(1);
    row->addSpacing(8);
    row->addWidget(headerNew_);
    static_cast<QVBoxLayout*>(layout)->addLayout(row);
    connect(headerNew_, &QToolButton::clicked, this, [this] { model_.setShowCreate(true); });
}

void Sidebar::buildFooter(QLayout* layout) {
    count_->setObjectName("environmentCount");
    Appearance::makeCaption(count_);
    // A long count wraps rather than being cut by the button beside it.
    count_->setWordWrap(true);
    footerNew_->setObjectName("footerNewButton");
    footerNew_->setIcon(Icons::named("list-add"));
    footerNew_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    footerNew_->setAutoRaise(true);
    footerNew_->setFont(Appearance::caption(footerNew_->font()));
    import_->setObjectName("importProjectButton");
    import_->setIcon(Icons::named("document-open"));
    import_->setFlat(true);
    import_->setFont(Appearance::caption(import_->font()));
    import_->setStyleSheet("text-align: left; padding: 4px 2px;");

    // The support link: heart, text, space, arrow, on a tinted background.
    support_->setObjectName("supportLink");
    support_->setCursor(Qt::PointingHandCursor);
    QColor tint = Appearance::accent();
    tint.setAlphaF(0.08f);
    support_->setStyleSheet(
        QString(
            "QPushButton#supportLink { background-color: %1; border: none; border-radius: 6px; }")
            .arg(Appearance::css(tint)));
    auto* heart = new QLabel(support_);
    heart->setPixmap(Icons::named("emblem-favorite").pixmap(12, 12));
    supportText_->setObjectName("supportText");
    auto* arrow = new QLabel(QString::fromUtf8("↗"), support_);
    QFont supportFont = Appearance::caption(supportText_->font());
    supportFont.setWeight(QFont::Medium);
    for (QLabel* label : {supportText_, arrow}) {
        label->setFont(supportFont);
        Appearance::setTextColor(label, Appearance::accent().darker(115));
    }
    auto* supportRow = new QHBoxLayout(support_);
    supportRow->setContentsMargins(9, 7, 9, 7);
    supportRow->setSpacing(7);
    supportRow->addWidget(heart);
    supportRow->addWidget(supportText_);
    supportRow->addStretch(1);
    supportRow->addWidget(arrow);
    support_->setMinimumHeight(supportRow->sizeHint().height());

    auto* countRow = new QHBoxLayout;
    countRow->setSpacing(6);
    countRow->addWidget(count_, 1);
    countRow->addWidget(footerNew_);
    auto* footer = new QVBoxLayout;
    footer->setContentsMargins(14, 10, 14, 10);
    footer->setSpacing(6);
    footer->addLayout(countRow);
    footer->addWidget(import_);
    footer->addWidget(support_);
    static_cast<QVBoxLayout*>(layout)->addLayout(footer);

    connect(footerNew_, &QToolButton::clicked, this, [this] { model_.setShowCreate(true); });
    connect(import_, &QPushButton::clicked, this, [this] { model_.setShowMigration(true); });
    connect(support_, &QPushButton::clicked, this,
            [this] { DesktopOpening::openURL(this, Branding::supportURL()); });
}

void Sidebar::render() {
    const bool canCreate = !model_.busy() && model_.hasEngine();
    logo_->setAccessibleName(toQt(L10n::text("Vessora logo")));
    headerNew_->setToolTip(toQt(L10n::text("New environment")));
    headerNew_->setAccessibleName(toQt(L10n::text("New environment")));
    headerNew_->setEnabled(canCreate);
    section_->setText(toQt(L10n::text("Environments")));
    renderRows();
    renderSelection();

    const std::size_t count = model_.profiles().size();
    count_->setText(QString::fromStdString(
        count == 1 ? L10n::text("1 environment")
                   : L10n::text("%@ environments", {std::to_string(count)})));
    footerNew_->setText(toQt(L10n::text("New")));
    footerNew_->setToolTip(toQt(L10n::text("New environment")));
    footerNew_->setEnabled(canCreate);
    import_->setText(toQt(L10n::text("Import project…")));
    import_->setEnabled(canCreate);
    supportText_->setText(toQt(L10n::text("Support Vessora")));
    support_->setToolTip(
        toQt(L10n::text("Support Vessora’s development. Opens PayPal in your browser.")));
    support_->setAccessibleName(toQt(L10n::text("Support Vessora")));
}

void Sidebar::renderRows() {
    const auto& profiles = model_.profiles();
    std::vector<std::string> ids;
    for (const StackProfile& profile : profiles)
        ids.push_back(profile.id);
    if (ids != rowIDs_) {
        const QSignalBlocker blocker(list_);
        list_->clear();
        for (const StackProfile& profile : profiles) {
            auto* item = new QListWidgetItem(list_);
            item->setData(idRole, QString::fromStdString(profile.id));
            auto* row = new EnvironmentRow(list_);
            item->setSizeHint(row->sizeHint());
            list_->setItemWidget(item, row);
        }
        rowIDs_ = ids;
    }
    for (int index = 0; index < list_->count(); ++index) {
        const StackProfile& profile = profiles[static_cast<std::size_t>(index)];
        const auto status = model_.statuses().find(profile.id);
        const bool running = status != model_.statuses().end() && status->second.running;
        static_cast<EnvironmentRow*>(list_->itemWidget(list_->item(index)))
            ->render(profile, running);
    }
}

void Sidebar::renderSelection() {
    const QSignalBlocker blocker(list_);
    const auto& selected = model_.selectedID();
    for (int index = 0; index < list_->count(); ++index) {
        QListWidgetItem* item = list_->item(index);
        if (selected && item->data(idRole).toString().toStdString() == *selected) {
            if (list_->currentItem() != item)
                list_->setCurrentItem(item);
            item->setSelected(true);
            return;
        }
    }
    list_->setCurrentItem(nullptr);
    list_->clearSelection();
}

void Sidebar::selectionMoved(QListWidgetItem* current) {
    if (!current) {
        model_.setSelectedID(std::nullopt);
        return;
    }
    model_.setSelectedID(current->data(idRole).toString().toStdString());
}

void Sidebar::showContextMenu(const QPoint& position) {
    QListWidgetItem* item = list_->itemAt(position);
    if (!item)
        return;
    const std::string id = item->data(idRole).toString().toStdString();
    std::optional<StackProfile> profile;
    for (const StackProfile& candidate : model_.profiles())
        if (candidate.id == id)
            profile = candidate;
    if (!profile)
        return;
    auto* menu = new QMenu(this);
    menu->setObjectName("environmentContextMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* remove =
        menu->addAction(Icons::named("edit-delete"), toQt(L10n::text("Delete environment…")));
    remove->setObjectName("deleteEnvironmentAction");
    remove->setEnabled(!model_.busy());
    connect(remove, &QAction::triggered, this, [this, record = *profile] {
        model_.setPendingDeletion(record);
        model_.setShowDeleteConfirmation(true);
    });
    menu->popup(list_->viewport()->mapToGlobal(position));
}

} // namespace vessora
