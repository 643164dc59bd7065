#include "ui/level_slider.h"

#include "ui/symbols.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace orevant {

namespace {

float unit(double v) { return std::isfinite(v) ? static_cast<float>(std::clamp(v, 0.0, 1.0)) : 0.0f; }

} // namespace

LevelSlider::LevelSlider(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(80, 20);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

float LevelSlider::dragValue(double x, double width, double height) {
    return unit((x - height / 2.0) / std::max(width - height, 1.0));
}

float LevelSlider::wheelValue(float value, double delta, bool precise) {
    return unit(value + delta / (precise ? 120.0 : 12.0));
}

void LevelSlider::setValue(float value) {
    if (isDragging_) return;
    const float v = unit(value);
    if (v == value_) return;
    value_ = v;
    update();
}

void LevelSlider::setSymbol(const std::string& symbol) {
    if (symbol == symbol_) return;
    symbol_ = symbol;
    update();
}

void LevelSlider::setSymbolDimmed(bool dimmed) {
    if (dimmed == symbolDimmed_) return;
    symbolDimmed_ = dimmed;
    update();
}

void LevelSlider::userSet(float value) {
    value_ = unit(value);
    update();
    if (onChange) onChange(value_);
}

void LevelSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double h = height();
    const double w = width();
    if (!symbol_.empty()) {
        painter.setOpacity(symbolDimmed_ ? 0.4 : 1.0);
        Symbols::icon(symbol_).paint(&painter, QRect(2, 2, static_cast<int>(h) - 4, static_cast<int>(h) - 4));
        painter.setOpacity(1.0);
    }
    const double left = h;
    const double right = w - h / 2.0;
    const double y = h / 2.0;
    const QColor track = palette().color(QPalette::Mid);
    const QColor fill = palette().color(QPalette::Highlight);
    painter.setPen(QPen(track, 4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(left, y), QPointF(right, y));
    const double knob = h / 2.0 + value_ * std::max(w - h, 1.0);
    painter.setPen(QPen(fill, 4, Qt::SolidLine, Qt::RoundCap));
    if (knob > left) painter.drawLine(QPointF(left, y), QPointF(knob, y));
    painter.setPen(QPen(palette().color(QPalette::Dark), 1));
    painter.setBrush(hasFocus() ? fill.lighter(130) : palette().color(QPalette::Button));
    painter.drawEllipse(QPointF(std::max(knob, left), y), h / 2.0 - 3, h / 2.0 - 3);
}

void LevelSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const double x = event->position().x();
    pressedOnSymbol_ = onSymbolTap && x < height();
    if (pressedOnSymbol_) return;
    isDragging_ = true;
    userSet(dragValue(x, width(), height()));
}

void LevelSlider::mouseMoveEvent(QMouseEvent* event) {
    if (pressedOnSymbol_) {
        // Moving away from the symbol turns the tap into a drag.
        if (event->position().x() < height()) return;
        pressedOnSymbol_ = false;
        isDragging_ = true;
    }
    if (!isDragging_) return;
    userSet(dragValue(event->position().x(), width(), height()));
}

void LevelSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    if (pressedOnSymbol_) {
        pressedOnSymbol_ = false;
        if (onSymbolTap) onSymbolTap();
        return;
    }
    isDragging_ = false;
}

void LevelSlider::wheelEvent(QWheelEvent* event) {
    const bool precise = !event->pixelDelta().isNull();
    const double delta = precise ? event->pixelDelta().y() : event->angleDelta().y() / 120.0;
    if (delta == 0) return event->ignore();
    event->accept();
    userSet(wheelValue(value_, delta, precise));
}

void LevelSlider::keyPressEvent(QKeyEvent* event) {
    float step = 0;
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Up:
        step = kArrowStep;
        break;
    case Qt::Key_Left:
    case Qt::Key_Down:
        step = -kArrowStep;
        break;
    case Qt::Key_PageUp:
        step = kPageStep;
        break;
    case Qt::Key_PageDown:
        step = -kPageStep;
        break;
    default:
        return QWidget::keyPressEvent(event);
    }
    userSet(value_ + step);
}

} // namespace orevant
