// One row of the sidebar's environment list: a status dot (green while the
// environment runs), its name unchanged and the line of its PHP and MariaDB
// series.
#pragma once

#include "VessoraCore/Records/StackProfile.hpp"

#include <QWidget>

#include <string>

class QLabel;

namespace vessora {

class EnvironmentRow : public QWidget {
    Q_OBJECT

public:
    explicit EnvironmentRow(QWidget* parent = nullptr);

    // Sets every text and the dot.
    void render(const StackProfile& profile, bool running);

    // "PHP 8.4 · MariaDB 11.4" for "php@8.4" and "mariadb@11.4", in the
    // interface language.
    static std::string versionLine(const StackProfile& profile);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitTexts();

    QWidget* dot_;
    QLabel* name_;
    QLabel* versions_;
    QString nameText_;
    QString versionText_;
};

} // namespace vessora
