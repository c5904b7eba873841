#include "app/widgets/Shape.h"

#include <QPainter>

namespace vinsk {

TShape::TShape(QColor brush, QColor pen, QWidget* parent) : QWidget(parent), FBrush(brush), FPen(pen) {}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), FPen);
    p.fillRect(rect().adjusted(1, 1, -1, -1), FBrush);
}

} // namespace vinsk
