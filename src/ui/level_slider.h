#pragma once
// Every level of the windows: a horizontal slider over 0...1 with a symbol at its left end.
// Dragging puts the value at (x - h/2) / max(w - h, 1); a press on the symbol (x < h) of a
// slider whose symbol has a tap action is a tap, not a drag. Each wheel event moves it by 1/120
// of a precise (touchpad) delta or 1/12 of a line delta; arrow keys by 0.01, Page Up/Down by 0.1.
//
// GUI thread only.
#include <QWidget>
#include <functional>
#include <string>

namespace orevant {

class LevelSlider final : public QWidget {
public:
    static constexpr float kArrowStep = 0.01f;
    static constexpr float kPageStep = 0.1f;

    explicit LevelSlider(QWidget* parent = nullptr);

    // The value a drag gives at pointer position x on a slider w wide and h high.
    static float dragValue(double x, double width, double height);
    // The value after one wheel event of vertical delta `delta` (lines, or pixels when precise).
    static float wheelValue(float value, double delta, bool precise);

    float value() const { return value_; }
    // Shows `value` (limited to 0...1) without reporting it; ignored while a drag runs.
    void setValue(float value);
    bool isDragging() const { return isDragging_; }

    void setSymbol(const std::string& symbol);
    const std::string& symbol() const { return symbol_; }
    void setSymbolDimmed(bool dimmed);

    // The user moved the value.
    std::function<void(float)> onChange;
    // Set when the symbol has a tap action (mute, for example).
    std::function<void()> onSymbolTap;

    QSize sizeHint() const override { return {200, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void userSet(float value);

    float value_ = 0.0f;
    bool isDragging_ = false;
    bool pressedOnSymbol_ = false;
    bool symbolDimmed_ = false;
    std::string symbol_;
};

} // namespace orevant
