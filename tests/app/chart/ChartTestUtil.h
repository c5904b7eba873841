// Helpers of the chart and reader tests.
#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QRect>

#include "app/chart/Chart1.h"

namespace vinsk {

// On screen at a fixed size, laid out and drawn.
inline void ShowChart(TChart1& chart)
{
    chart.resize(600, 400);
    chart.show();
    QApplication::processEvents();
}

inline QImage Shot(TChart1& chart)
{
    QApplication::processEvents(); // the queued replot
    return chart.PlotWidget()->grab().toImage();
}

inline bool IsRed(const QColor& c)
{
    return c.red() > 180 && c.green() < 100 && c.blue() < 100;
}

inline bool IsDark(const QColor& c)
{
    return c.red() < 110 && c.green() < 110 && c.blue() < 110;
}

template <typename Pred>
int Count(const QImage& image, const QRect& area, Pred pred)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += pred(image.pixelColor(x, y));
    return n;
}

inline int CountRed(const QImage& image)
{
    return Count(image, image.rect(), IsRed);
}

} // namespace vinsk
