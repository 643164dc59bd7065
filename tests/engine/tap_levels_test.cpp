// The levels a tap is given for a setting: the one rule for tap creation, scene recall and cue
// changes.
#include "engine/tap_levels.h"

#include "persistence/app_volume.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

TEST(TapLevelsTest, RoutedUncuedApplicationsPlayAtUnityAndTheCueDecidesWhatPhonesHears) {
    AppVolume quietMuted;
    quietMuted.volume = 0.3f;
    quietMuted.isMuted = true;
    quietMuted.cueVolume = 0.6f;
    AppVolume routed = quietMuted;
    routed.outputDeviceUIDs = {"desk-uid"};
    AppVolume routedCued = routed;
    routedCued.isCued = true;

    const struct {
        const char* name;
        AppVolume setting;
        bool anyCued;
        bool panicked;
        TapLevels levels;
    } cases[] = {
        {"default route keeps its level",
         quietMuted,
         false,
         false,
         {0.3f, true, 0.6f, PhonesMode::sameAsMain, 0.5f, false}},
        {"routed: unity, unmuted", routed, false, false, {1.0f, false, 0.6f, PhonesMode::sameAsMain, 0.5f, false}},
        {"another application is cued", routed, true, false, {1.0f, false, 0.6f, PhonesMode::silent, 0.5f, false}},
        {"routed and cued keeps its level", routedCued, true, false, {0.3f, true, 0.6f, PhonesMode::cue, 0.5f, false}},
        {"panic", quietMuted, false, true, {0.3f, true, 0.6f, PhonesMode::sameAsMain, 0.5f, true}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tapLevelsFor(c.setting, c.anyCued, c.panicked, 0.5f), c.levels) << c.name;
    }
}

} // namespace
} // namespace orevant
