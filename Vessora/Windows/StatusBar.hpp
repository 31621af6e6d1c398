// The one-line row at the bottom of the main window's detail column: what
// the application is doing, the package reload and stop-all. It keeps no
// state; render() reads the model and sets every text and enabled flag.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace vessora {

class AppModel;
class AppPreferences;
class BusyIndicator;

class StatusBar : public QWidget {
    Q_OBJECT

public:
    StatusBar(AppModel& model, AppPreferences& preferences, QWidget* parent = nullptr);

    void render();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void stopAll();
    void fitActivity();

    AppModel& model_;
    BusyIndicator* busy_;
    QLabel* idle_;
    QLabel* activity_;
    QPushButton* refresh_;
    QPushButton* stopAll_;
    QString activityText_;
};

} // namespace vessora
