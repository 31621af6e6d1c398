#include "Vessora/Windows/MainWindow.hpp"

#include "Vessora/App/AppModel.hpp"
#include "Vessora/App/AppPreferences.hpp"
#include "Vessora/App/AppUpdates.hpp"
#include "Vessora/App/Icons.hpp"
#include "Vessora/Controls/UiText.hpp"
#include "Vessora/Sheets/AboutBox.hpp"
#include "Vessora/Sheets/LocalHostSheet.hpp"
#include "Vessora/Sheets/MigrationSheet.hpp"
#include "Vessora/Sheets/NewEnvironmentSheet.hpp"
#include "Vessora/Sheets/UpdateDetailsSheet.hpp"
#include "Vessora/Windows/Appearance.hpp"
#include "Vessora/Windows/CloseButtonRelay.hpp"
#include "Vessora/Windows/DeleteConfirmation.hpp"
#include "Vessora/Windows/DetailPane.hpp"
#include "Vessora/Windows/EditorSlot.hpp"
#include "Vessora/Windows/QuitKeys.hpp"
#include "Vessora/Windows/SheetPresenter.hpp"
#include "Vessora/Windows/Sidebar.hpp"
#include "Vessora/Windows/StatusBar.hpp"
#include "Vessora/Windows/UpdateBanner.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QCloseEvent>
#include <QFrame>
#include <QMenuBar>
#include <QPointer>
#include <QScrollArea>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <vector>

namespace vessora {

MainWindow::MainWindow(AppModel& model, AppPreferences& preferences, AppUpdates& updates,
                       QWidget* parent)
    : QMainWindow(parent), model_(model), preferences_(preferences), updates_(updates),
      sidebar_(new Sidebar(model, preferences)), detail_(new DetailPane(model, preferences)),
      statusBar_(new StatusBar(model, preferences)), sheets_(new SheetPresenter(this)) {
    setObjectName("mainWindow");
    setWindowTitle("Vessora");
    // The accent tints the selection and the focus.
    QPalette tinted = palette();
    tinted.setColor(QPalette::Highlight, Appearance::accent());
    tinted.setColor(QPalette::HighlightedText, Qt::white);
    setPalette(tinted);

    detail_->setBanner(new UpdateBanner(updates_, preferences_));
    auto* scroll = new QScrollArea;
    scroll->setObjectName("detailScroll");
    scroll->setWidget(detail_);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Once the layout has placed the widget that appeared.
    connect(detail_, &DetailPane::revealRequested, scroll, [scroll](QWidget* widget) {
        QTimer::singleShot(0, scroll, [scroll, widget = QPointer<QWidget>(widget)] {
            if (!widget || !widget->isVisible())
                return;
            // Its whole frame: ensureWidgetVisible() would aim at a text
            // view's cursor instead.
            const QRect area(widget->mapTo(scroll->widget(), QPoint(0, 0)), widget->size());
            scroll->ensureVisible(area.center().x(), area.center().y(), area.width() / 2,
                                  area.height() / 2 + 18);
        });
    });
    detail_->revealNotices();
    detailScroll_ = scroll;
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    auto* column = new QWidget;
    column->setObjectName("detailColumn");
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);
    columnLayout->addWidget(scroll, 1);
    columnLayout->addWidget(divider);
    columnLayout->addWidget(statusBar_);

    auto* split = new QSplitter(Qt::Horizontal);
    split->setObjectName("mainSplit");
    split->setChildrenCollapsible(false);
    split->addWidget(sidebar_);
    split->addWidget(column);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({220, 700});
    setCentralWidget(split);

    buildMenu();
    buildToolbar();
    // Quit reaches the shell also while a sheet blocks the window.
    new QuitKeys(*this, *quit_);
    new CloseButtonRelay(*this);
    setMinimumSize(860, 450);
    resize(920, 480);

    connect(&detail_->editorSlot(), &EditorSlot::editorReplaced, this,
            &MainWindow::keepStatusBarLastInTabOrder);
    keepStatusBarLastInTabOrder();
    connect(&model_, &AppModel::changed, this, &MainWindow::render);
    connect(&updates_, &AppUpdates::changed, this, &MainWindow::render);
    connect(&updates_, &AppUpdates::mainWindowRequested, this, &MainWindow::bringForward);
    connect(&preferences_, &AppPreferences::changed, this, &MainWindow::render);
    render();
}

void MainWindow::buildMenu() {
    appMenu_ = menuBar()->addMenu("Vessora");
    appMenu_->setObjectName("applicationMenu");
    // The application-info group that a desktop without a global menu lacks.
    about_ = appMenu_->addAction(QString());
    about_->setObjectName("aboutAction");
    about_->setMenuRole(QAction::AboutRole);
    appMenu_->addSeparator();
    checkForUpdates_ = appMenu_->addAction(QString());
    checkForUpdates_->setObjectName("checkForUpdatesAction");
    appMenu_->addSeparator();
    settings_ = appMenu_->addAction(QString());
    settings_->setObjectName("settingsAction");
    settings_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings_->setMenuRole(QAction::PreferencesRole);
    appMenu_->addSeparator();
    quit_ = appMenu_->addAction(QString());
    quit_->setObjectName("quitAction");
    quit_->setShortcuts(QuitKeys::sequences());
    quit_->setMenuRole(QAction::QuitRole);

    connect(about_, &QAction::triggered, this, [this] {
        const AppUpdates& updates = updates_;
        AppPreferences& preferences = preferences_;
        sheets_->request("about", [&updates, &preferences](QWidget* window) {
            return new AboutBox(updates, preferences, window);
        });
    });
    connect(checkForUpdates_, &QAction::triggered, this, [this] { updates_.checkManually(); });
    connect(settings_, &QAction::triggered, this, &MainWindow::settingsRequested);
    connect(quit_, &QAction::triggered, this, &MainWindow::quitRequested);
}

void MainWindow::buildToolbar() {
    toolbar_ = addToolBar(QString());
    QToolBar* toolbar = toolbar_;
    toolbar->setObjectName("mainToolbar");
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->toggleViewAction()->setEnabled(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar->setIconSize(QSize(18, 18));
    // The two items stand at the trailing end.
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    localAddresses_ = toolbar->addAction(Icons::named("network-wired"), QString());
    localAddresses_->setObjectName("localAddressesAction");
    language_ = toolbar->addAction(Icons::named("preferences-desktop-locale"), QString());
    language_->setObjectName("languageAction");

    connect(localAddresses_, &QAction::triggered, this, [this] {
        model_.refreshHostSetupState();
        model_.setShowLocalHosts(true);
    });
    connect(language_, &QAction::triggered, this, &MainWindow::settingsRequested);
}

void MainWindow::keepStatusBarLastInTabOrder() {
    QWidget* lastOfDetail = nullptr;
    std::vector<QWidget*> bar;
    for (QWidget* widget = nextInFocusChain(); widget != this;
         widget = widget->nextInFocusChain()) {
        // setTabOrder() ignores widgets that take no focus.
        if (widget->window() != this || !(widget->focusPolicy() & Qt::TabFocus))
            continue;
        if (widget == detailScroll_ || detailScroll_->isAncestorOf(widget))
            lastOfDetail = widget;
        else if (statusBar_->isAncestorOf(widget))
            bar.push_back(widget);
    }
    if (!lastOfDetail)
        return;
    for (QWidget* widget : bar) {
        QWidget::setTabOrder(lastOfDetail, widget);
        lastOfDetail = widget;
    }
}

void MainWindow::render() {
    about_->setText(toQt(L10n::text("About Vessora")));
    checkForUpdates_->setText(toQt(L10n::text("Check for Updates…")));
    checkForUpdates_->setEnabled(!updates_.isChecking());
    settings_->setText(toQt(L10n::text("Settings…")));
    quit_->setText(toQt(L10n::text("Quit Vessora")));
    localAddresses_->setText(toQt(L10n::text("Local addresses")));
    localAddresses_->setToolTip(toQt(L10n::text("Local addresses")));
    language_->setText(toQt(L10n::text("Language")));
    language_->setToolTip(toQt(L10n::text("Language")));
    for (QAction* action : {localAddresses_, language_})
        if (QWidget* button = toolbar_->widgetForAction(action))
            button->setAccessibleName(action->text());
    syncSheets();
}

void MainWindow::syncSheets() {
    AppModel& model = model_;
    AppPreferences& preferences = preferences_;
    presentWhile(
        "localHosts", model.showLocalHosts(),
        [&model, &preferences](QWidget* window) {
            return new LocalHostSheet(model, preferences, window);
        },
        [&model] { return model.showLocalHosts(); }, [&model] { model.setShowLocalHosts(false); });
    presentWhile(
        "create", model.showCreate(),
        [&model, &preferences](QWidget* window) {
            return new NewEnvironmentSheet(model, preferences, window);
        },
        [&model] { return model.showCreate(); }, [&model] { model.setShowCreate(false); });
    presentWhile(
        "migration", model.showMigration(),
        [&model, &preferences](QWidget* window) {
            return new MigrationSheet(model, preferences, window);
        },
        [&model] { return model.showMigration(); }, [&model] { model.setShowMigration(false); });
    AppUpdates& updates = updates_;
    presentWhile(
        "updateDetails", updates.showDetails(),
        [&updates, &preferences](QWidget* window) {
            return new UpdateDetailsSheet(updates, preferences, window);
        },
        [&updates] { return updates.showDetails(); },
        [&updates] { updates.setShowDetails(false); });
    const auto deleting = [&model] {
        return model.showDeleteConfirmation() && model.pendingDeletion().has_value();
    };
    presentWhile(
        "deleteConfirmation", deleting(),
        [&model, &preferences, deleting](QWidget* window) -> QDialog* {
            if (!deleting())
                return nullptr;
            // The record held when the alert opens is the one it deletes.
            return new DeleteConfirmation(model, preferences, *model.pendingDeletion(), window);
        },
        deleting,
        [&model] {
            model.setPendingDeletion(std::nullopt);
            model.setShowDeleteConfirmation(false);
        });
}

void MainWindow::presentWhile(const QString& key, bool wanted,
                              std::function<QDialog*(QWidget*)> make,
                              std::function<bool()> stillWanted, std::function<void()> closed) {
    if (wanted)
        sheets_->request(key, std::move(make), std::move(stillWanted), std::move(closed));
    else
        sheets_->dismiss(key);
}

void MainWindow::bringForward() {
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closingAllowed_) {
        event->accept();
        return;
    }
    // The window stays while the environments stop; the shell closes it.
    event->ignore();
    emit quitRequested();
}

} // namespace vessora
