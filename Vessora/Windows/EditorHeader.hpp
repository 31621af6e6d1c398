// The top row of the environment editor: the saved environment's name, its
// status dot and status text, its address with the MariaDB port, and Start,
// Stop and Delete. Start and Stop run through AppModel::perform with the
// saved id; Delete hands the saved record to the main window's delete
// confirmation. It keeps no state; render() applies the enable rules.
#pragma once

#include <QWidget>

#include <string>

class QLabel;
class QPushButton;
class QToolButton;

namespace vessora {

class EditorState;
class ElidedLabel;
class StatusDot;

class EditorHeader : public QWidget {
    Q_OBJECT

public:
    EditorHeader(const EditorState& state, QWidget* parent = nullptr);

    // What Start depends on, read from the editor's state.
    struct StartConditions {
        bool busy = false;
        bool running = false;
        bool ready = false;
        bool unsaved = false;
        bool engine = false;
        // The saved record has a hostname and local addresses are not
        // connected.
        bool hostnameWithoutAddresses = false;
    };
    static StartConditions startConditions(const EditorState& state);
    // Start: nothing runs, the environment is stopped, its packages are
    // installed, the draft is saved, there is an engine, and a hostname has
    // its local addresses connected.
    static bool startAllowed(const StartConditions& conditions);
    static bool startEnabled(const EditorState& state);
    // Stop: nothing runs and the environment has processes.
    static bool stopEnabled(const EditorState& state);
    // Delete: nothing runs.
    static bool deleteEnabled(const EditorState& state);
    // The HTTPS address when there is one, else the HTTP address, then the
    // MariaDB port: "http://127.0.0.1:8080 · MariaDB :13306".
    static std::string addressLine(const EditorState& state);

    void render();

private:
    void start();
    void stop();
    void remove();

    const EditorState& state_;
    ElidedLabel* name_;
    StatusDot* dot_;
    ElidedLabel* statusText_;
    QLabel* address_;
    QPushButton* start_;
    QPushButton* stop_;
    QToolButton* delete_;
};

} // namespace vessora
