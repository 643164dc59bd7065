#include "ui/level_meter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace orevant {

LevelMeter::LevelMeter(Qt::Orientation orientation, QWidget* parent) : QWidget(parent), orientation_(orientation) {
    if (orientation == Qt::Horizontal) {
        setFixedHeight(4);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedWidth(6);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
}

int LevelMeter::extent() const { return orientation_ == Qt::Horizontal ? width() : height(); }

int LevelMeter::pixels(float level) const {
    const float v = std::isfinite(level) ? std::clamp(level, 0.0f, 1.0f) : 0.0f;
    return static_cast<int>(std::lround(v * static_cast<float>(extent())));
}

void LevelMeter::setLevel(float level) {
    const float v = std::isfinite(level) ? std::clamp(level, 0.0f, 1.0f) : 0.0f;
    const bool moves = pixels(v) != pixels(level_);
    level_ = v;
    if (moves && isVisible()) {
        ++repaintRequests_;
        update();
    }
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Mid).lighter(140));
    const int n = pixels(level_);
    const QColor colour = level_ > 0.9f ? QColor(220, 70, 50) : QColor(60, 180, 90);
    if (orientation_ == Qt::Horizontal) {
        painter.fillRect(QRect(0, 0, n, height()), colour);
    } else {
        painter.fillRect(QRect(0, height() - n, width(), n), colour);
    }
}

} // namespace orevant
