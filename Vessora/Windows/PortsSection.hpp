// The "Ports" card of the environment editor: the web server's HTTP port,
// its HTTPS port while the draft has HTTPS on, the PHP-FPM port and the
// MariaDB port, and the note that every server listens on this computer
// only. The web rows read "Internal HTTP"/"Internal HTTPS" while the draft
// routes by hostname.
//
// Ports are shown and read in the interface language without digit grouping
// (8080, never 8.080). Text that does not read as a whole number leaves the
// draft alone; the field keeps what the user typed until it loses focus. No
// range check here: saving refuses bad ports. While the draft has no HTTPS
// port the HTTPS field shows the model's suggestion without storing it.
#pragma once

#include "Vessora/Controls/EditorSection.hpp"

#include <cstdint>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QGridLayout;

namespace vessora {

class AppPreferences;
class EditorState;

class PortsSection : public EditorSection {
    Q_OBJECT

public:
    static constexpr int sectionWidth = 205;
    static constexpr int fieldWidth = 72;

    PortsSection(const EditorState& state, AppPreferences& preferences, QWidget* parent = nullptr);

    // In the interface language, without digit grouping.
    static QString portText(std::int64_t port);
    // A whole number in the interface language, without digit grouping;
    // surrounding spaces are ignored.
    static std::optional<std::int64_t> parsePort(const QString& text);

    void render();

private:
    struct Row {
        QLabel* label = nullptr;
        QLineEdit* field = nullptr;
    };
    enum class Port { http, https, php, database };

    Row addRow(const char* name);
    void bind(const Row& row, Port port);
    // What the field of `port` shows.
    std::int64_t shownValue(Port port) const;
    // Shows the translated title and the value, leaving a focused field
    // alone while its text is being typed. The field's name fills "%@ port"
    // with the English `title`.
    void renderRow(const Row& row, const std::string& title, const std::string& shown,
                   std::int64_t value);

    const EditorState& state_;
    QGridLayout* grid_ = nullptr;
    Row http_;
    Row https_;
    Row php_;
    Row database_;
    QLabel* lock_ = nullptr;
    QLabel* note_ = nullptr;
};

} // namespace vessora
