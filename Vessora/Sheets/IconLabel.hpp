// A label with a theme icon before its text, for titles and status lines.
// The text wraps; the icon is the theme's symbolic one in the text's colour,
// one line of the widget's font high. Font and palette set on the widget
// reach the text.
#pragma once

#include <QWidget>

#include <string>

class QLabel;

namespace vessora {

class IconLabel : public QWidget {
    Q_OBJECT

public:
    explicit IconLabel(QWidget* parent = nullptr);

    // A freedesktop icon name, without "-symbolic".
    void setIcon(const std::string& name);
    const std::string& iconName() const { return iconName_; }
    void setText(const QString& text);
    QString text() const;
    QLabel* textLabel() const { return text_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void drawIcon();

    QLabel* icon_;
    QLabel* text_;
    std::string iconName_;
};

} // namespace vessora
