// The applications' settings on their own: the deferred save and the save at once.
#include "engine/app_settings.h"

#include "persistence/volume_store.h"
#include "platform/defaults_store.h"
#include "platform/manual_main_queue.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

AppVolume atLevel(float volume) {
    AppVolume setting;
    setting.volume = volume;
    return setting;
}

TEST(AppSettingsTest, ChangesAreSavedOnceAfterTheLastAndAResetSavesAtOnce) {
    ManualMainQueue queue;
    InMemoryDefaultsStore defaults;
    AppSettings settings(queue, defaults);
    AppVolume cued;
    cued.isCued = true;
    settings.set("music", cued);
    queue.advance(0.3);
    settings.set("video", atLevel(0.5f));
    EXPECT_TRUE(settings.anyCued());
    EXPECT_TRUE(settings.isCued("music"));
    EXPECT_EQ(settings.setting("game"), AppVolume{}) << "no entry: the default setting";
    queue.advance(0.4 - 0.01);
    EXPECT_EQ(defaults.writeCount("appVolumes"), 0u) << "the second change moved the save";
    queue.advance(0.02);
    EXPECT_EQ(defaults.writeCount("appVolumes"), 1u);

    settings.set("music", atLevel(0.2f));
    settings.resetNow("video");
    EXPECT_EQ(defaults.writeCount("appVolumes"), 2u);
    EXPECT_EQ(VolumeStore(defaults).load(), (AppSettings::Map{{"music", atLevel(0.2f)}}));
    queue.advance(1.0);
    EXPECT_EQ(defaults.writeCount("appVolumes"), 2u) << "the pending save went with the reset";
    EXPECT_FALSE(settings.anyCued());

    AppSettings restarted(queue, defaults);
    restarted.load();
    EXPECT_EQ(restarted.all(), settings.all());
}

} // namespace
} // namespace orevant
