#pragma once
// A level meter bar. Repaints only when the level moves it by at least one pixel, so a meter
// tick that changes nothing on screen costs no painting. GUI thread only.
#include <QWidget>

namespace orevant {

class LevelMeter final : public QWidget {
public:
    explicit LevelMeter(Qt::Orientation orientation = Qt::Horizontal, QWidget* parent = nullptr);

    void setLevel(float level);
    float level() const { return level_; }
    // How often it asked to be repainted (benchmarks and tests).
    int repaintRequests() const { return repaintRequests_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int extent() const;
    int pixels(float level) const;

    Qt::Orientation orientation_;
    float level_ = 0.0f;
    int repaintRequests_ = 0;
};

} // namespace orevant
