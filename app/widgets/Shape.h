// A plain rectangle with a fill and a border colour, used as an indicator.
#pragma once

#include <QColor>
#include <QWidget>

namespace vinsk {

class TShape : public QWidget {
    Q_OBJECT
public:
    TShape(QColor brush, QColor pen, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QColor FBrush;
    QColor FPen;
};

} // namespace vinsk
