// The row of the import wizard's steps, "1. Project" to "4. Review" with a
// small chevron between them; the current step semibold, the others dimmed.
#pragma once

#include <QWidget>

#include <string>
#include <vector>

class QLabel;

namespace vessora {

class MigrationStepIndicator : public QWidget {
    Q_OBJECT

public:
    // `titles` are English keys, looked up on each render.
    MigrationStepIndicator(std::vector<std::string> titles, QWidget* parent);

    void render(int current);
    // The items as shown.
    std::vector<QString> items() const;

private:
    std::vector<std::string> titles_;
    std::vector<QLabel*> items_;
};

} // namespace vessora
