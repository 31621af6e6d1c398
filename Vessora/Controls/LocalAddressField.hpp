// The hostname field of the environment forms. It edits three values of the
// form's draft together: the hostname as typed (none when the field is
// empty; spaces and capitals kept), whether the environment routes by
// hostname (on exactly while the typed name is not blank) and whether it
// opens without port numbers (the "Without port number" box, shown only
// while a hostname is set and switched off with routing). Below the field it
// shows the hostname rule while the name is not a valid local hostname, or
// else a hint for ".local" names. It never refuses input; whether a form with
// an invalid name can be saved is the form's rule.
//
//   field->setValue({draft.hostname(), draft.virtualHost(), draft.standardPorts()});
//   connect(field, &LocalAddressField::valueEdited, draft, [draft, field] {
//       draft->setLocalAddress(field->value());
//   });
//
// setValue() and render() emit nothing and never replace the text of the
// focused field when it already reads as the hostname, so a redraw while
// the user types keeps the cursor where it is.
#pragma once

#include <QWidget>

#include <optional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace vessora {

class AppPreferences;

class LocalAddressField : public QWidget {
    Q_OBJECT

public:
    struct Value {
        std::optional<std::string> hostname;
        bool virtualHost = false;
        bool standardPorts = false;

        bool operator==(const Value&) const = default;
    };

    explicit LocalAddressField(AppPreferences& preferences, QWidget* parent = nullptr);

    const Value& value() const { return value_; }
    // Stores and shows the value; emits nothing.
    void setValue(Value value);

    // What an edit of the text makes of `current`.
    static Value edited(const std::string& text, Value current);
    // The orange message for a hostname, if any: the rule sentence while the
    // normalized name is not a valid local hostname.
    static std::optional<std::string> validation(const std::optional<std::string>& hostname);

    QLineEdit* lineEdit() const { return edit_; }
    QCheckBox* withoutPortBox() const { return withoutPort_; }
    QLabel* messageLabel() const { return message_; }
    void render();

signals:
    // The user typed or switched the box; value() holds the new values.
    void valueEdited();

private:
    void apply(Value value);

    Value value_;
    QLineEdit* edit_;
    QCheckBox* withoutPort_;
    QLabel* message_;
};

} // namespace vessora
