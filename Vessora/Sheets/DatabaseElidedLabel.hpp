// A name on one line that never widens its row: when it does not fit it is
// shortened with an ellipsis (in the middle by default, so both ends of a
// database name stay readable) and the whole name shows as its tooltip.
#pragma once

#include <QLabel>
#include <QString>

namespace vessora {

class DatabaseElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit DatabaseElidedLabel(QWidget* parent, Qt::TextElideMode mode = Qt::ElideMiddle);

    const QString& fullText() const { return full_; }
    void setFullText(const QString& text);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString full_;
    Qt::TextElideMode mode_;
};

} // namespace vessora
