#include "ui/app_row.h"
#include "ui/level_slider.h"
#include "ui/ui_test_support.h"

#include <QKeyEvent>
#include <gtest/gtest.h>

namespace orevant {
namespace {

// Drags and wheel clicks follow the slider's maths exactly, on a real widget 200 x 20; a press on
// the symbol of a slider whose symbol mutes is a tap that must not drag the value to 0.
TEST(LevelSliderTest, DragWheelKeysAndSymbolTapMoveTheValueByTheSliderMaths) {
    LevelSlider slider;
    slider.resize(200, 20);
    float reported = -1;
    slider.onChange = [&](float v) { reported = v; };

    struct Drag {
        int x;
        float value;
    };
    for (Drag d : {Drag{10, 0.0f}, Drag{100, 0.5f}, Drag{190, 1.0f}, Drag{-30, 0.0f}, Drag{400, 1.0f}}) {
        test::mouse(&slider, QEvent::MouseButtonPress, {d.x, 10});
        EXPECT_FLOAT_EQ(slider.value(), d.value) << "x = " << d.x;
        EXPECT_FLOAT_EQ(reported, d.value) << "the engine hears the value";
        EXPECT_TRUE(slider.isDragging());
        test::mouse(&slider, QEvent::MouseButtonRelease, {d.x, 10}, Qt::NoButton);
        EXPECT_FALSE(slider.isDragging());
    }
    // While a drag runs, the model's echo does not pull the knob back.
    test::mouse(&slider, QEvent::MouseButtonPress, {100, 10});
    slider.setValue(0.2f);
    EXPECT_FLOAT_EQ(slider.value(), 0.5f);
    test::mouse(&slider, QEvent::MouseButtonRelease, {100, 10}, Qt::NoButton);

    // Ten line clicks up from 0.5 reach 1.0 and stop there.
    for (int click = 0; click < 10; ++click) test::wheel(&slider, 1.0);
    EXPECT_FLOAT_EQ(slider.value(), 1.0f);
    test::wheel(&slider, 0, -12); // a touchpad's 12 pixels down: 12/120
    EXPECT_NEAR(slider.value(), 0.9f, 1e-6);

    struct Key {
        int key;
        float delta;
    };
    for (Key k : {Key{Qt::Key_Left, -0.01f}, Key{Qt::Key_Right, 0.01f}, Key{Qt::Key_PageDown, -0.1f},
                  Key{Qt::Key_PageUp, 0.1f}}) {
        const float before = slider.value();
        QKeyEvent press(QEvent::KeyPress, k.key, Qt::NoModifier);
        QCoreApplication::sendEvent(&slider, &press);
        EXPECT_NEAR(slider.value(), before + k.delta, 1e-6) << k.key;
    }

    int taps = 0;
    slider.onSymbolTap = [&] { ++taps; };
    test::mouse(&slider, QEvent::MouseButtonPress, {8, 10});
    test::mouse(&slider, QEvent::MouseButtonRelease, {8, 10}, Qt::NoButton);
    EXPECT_EQ(taps, 1);
    EXPECT_NEAR(slider.value(), 0.9f, 1e-6);
}

TEST(AppRowTest, SpeakerSymbolAndLabelFollowTheVolume) {
    struct Case {
        float volume;
        bool muted;
        const char* symbol;
        const char* label;
    };
    for (Case c : {Case{0.0f, false, "speaker.fill", "0%"}, Case{0.339f, false, "speaker.wave.1.fill", "33%"},
                   Case{0.34f, false, "speaker.wave.2.fill", "34%"}, Case{0.29f, false, "speaker.wave.1.fill", "29%"},
                   Case{0.67f, false, "speaker.wave.3.fill", "67%"}, Case{0.999f, false, "speaker.wave.3.fill", "99%"},
                   Case{0.5f, true, "speaker.slash.fill", "muted"}}) {
        EXPECT_EQ(AppRow::speakerSymbol(c.volume, c.muted), c.symbol) << c.volume;
        EXPECT_EQ(AppRow::label(c.volume, c.muted), c.label) << c.volume;
    }
}

} // namespace
} // namespace orevant
