// The Databases tab of the database management sheet: every database of the
// loaded inventory (system schemas are not in it) with its table count, in
// the server's order, and the button that opens the new-database form.
// Renders from the draft only; the sheet calls render().
#pragma once

#include "Vessora/Sheets/DatabaseManagerDraft.hpp"

#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace vessora {

class DatabaseListTab : public QWidget {
    Q_OBJECT

public:
    // The list's height for `count` databases: 36 per row, 70 to 220.
    static int listHeight(std::size_t count);

    DatabaseListTab(DatabaseManagerDraft& draft, QWidget* parent);

    void render();

private:
    struct Row {
        QLabel* primary;
        QLabel* tables;
        ManagedDatabase database;
    };
    void rebuildRows(const std::vector<ManagedDatabase>& databases);

    DatabaseManagerDraft& draft_;
    QScrollArea* list_;
    QVBoxLayout* rowsLayout_;
    std::vector<Row> rows_;
    std::optional<std::vector<ManagedDatabase>> shown_;
    QLabel* hint_;
    QPushButton* newDatabase_;
};

} // namespace vessora
