#pragma once
// Helpers of the desktop tests: synthetic mouse and wheel events sent straight to a widget, and
// letting Qt lay out what changed. The engine's own time stays on the fixture's virtual clock.
#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

namespace orevant::test {

inline void layOut() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

inline void mouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons held = Qt::LeftButton) {
    const QPointF local(at);
    QMouseEvent event(type, local, widget->mapToGlobal(local),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

// A press on `widget` at `from`, moves to `to` in a few steps, and the release there.
inline void drag(QWidget* widget, QPoint from, QPoint to) {
    mouse(widget, QEvent::MouseButtonPress, from);
    for (int step = 1; step <= 4; ++step) mouse(widget, QEvent::MouseMove, from + (to - from) * step / 4);
    mouse(widget, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

// One wheel event: `lines` clicks of a mouse wheel, or a touchpad's `pixels`.
inline void wheel(QWidget* widget, double lines, int pixels = 0) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(0, pixels), QPoint(0, static_cast<int>(lines * 120)),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace orevant::test
