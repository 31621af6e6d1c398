// A titled card that groups the rows of one part of a form: the title above
// its content, 14 pixels of padding, on a rounded panel with a faint
// outline. The title is an English key looked up on every render(), which
// runs whenever the preferences change.
//
// Usage: build the rows in a widget or layout of your own and hand it over
// with setContent()/contentLayout().
#pragma once

#include <QFrame>

#include <string>

class QLabel;
class QVBoxLayout;

namespace vessora {

class AppPreferences;

class EditorSection : public QFrame {
    Q_OBJECT

public:
    EditorSection(AppPreferences& preferences, std::string titleKey, QWidget* parent = nullptr);

    // The column below the title; add the section's rows here.
    QVBoxLayout* contentLayout() const { return content_; }
    // Adds one widget below the title (the section takes it over).
    void setContent(QWidget* content);

    const std::string& titleKey() const { return titleKey_; }
    void render();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string titleKey_;
    QLabel* title_;
    QVBoxLayout* content_;
};

} // namespace vessora
