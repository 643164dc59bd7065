#include "app/permission_window.h"

#include "platform/manual_main_queue.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

class RecordingPresenter final : public PermissionWindow::Presenter {
public:
    void show() override { ++shows; }
    void close() override { ++closes; }
    int shows = 0;
    int closes = 0;
};

// A flag with observers, as the engine's needsAudioCapturePermission is.
struct FakeFlag {
    bool value = false;
    ObserverList observers;
    void set(bool v) {
        value = v;
        observers.notify();
    }
    PermissionWindow::Flag flag() {
        return {[this] { return value; }, [this](ObserverList::Observer o) { return observers.add(std::move(o)); }};
    }
};

class PermissionWindowTest : public ::testing::Test {
protected:
    ManualMainQueue queue;
    FakeFlag needs;
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
};

TEST_F(PermissionWindowTest, NeededAtLaunchShowsThePromptFromAMainQueueTask) {
    needs.value = true;
    PermissionWindow window(queue, needs.flag(), presenter);
    EXPECT_EQ(presenter->shows, 0);
    queue.runUntilIdle();
    EXPECT_EQ(presenter->shows, 1);
    EXPECT_TRUE(window.isOpen());
    EXPECT_TRUE(window.shownThisLaunch());
}

TEST_F(PermissionWindowTest, PermissionGrantedWhileOpenClosesTheWindowByItself) {
    PermissionWindow window(queue, needs.flag(), presenter);
    queue.runUntilIdle();
    EXPECT_EQ(presenter->shows, 0);
    needs.set(true);
    queue.runUntilIdle();
    EXPECT_EQ(presenter->shows, 1);
    needs.set(false);
    queue.runUntilIdle();
    EXPECT_EQ(presenter->closes, 1);
    EXPECT_FALSE(window.isOpen());
}

TEST_F(PermissionWindowTest, SetClearedAndSetAgainShowsThePromptOnlyOnceButTheBannerEachTime) {
    PermissionWindow window(queue, needs.flag(), presenter);
    std::vector<bool> banner;
    for (bool value : {true, false, true}) {
        needs.set(value);
        queue.runUntilIdle();
        banner.push_back(PermissionWindow::isBannerVisible(needs.value));
    }
    EXPECT_EQ(presenter->shows, 1);
    EXPECT_FALSE(window.isOpen());
    EXPECT_EQ(banner, (std::vector<bool>{true, false, true}));
}

TEST_F(PermissionWindowTest, ButtonsCloseTheWindowAndOpenPrivacySettingsOpensTheDeepLink) {
    needs.value = true;
    PermissionWindow window(queue, needs.flag(), presenter);
    queue.runUntilIdle();
    std::vector<std::string> opened;
    window.openPrivacySettings([&](const std::string& url) { opened.push_back(url); });
    EXPECT_EQ(opened,
              std::vector<std::string>{"x-apple.systempreferences:com.apple.preference.security?Privacy_AudioCapture"});
    EXPECT_FALSE(window.isOpen());
    EXPECT_EQ(presenter->closes, 1);
    window.close();
    EXPECT_EQ(presenter->closes, 1) << "closing a closed window does nothing";

    // Other changes of the engine that leave the flag as it was do not reopen it.
    needs.set(true);
    queue.runUntilIdle();
    EXPECT_EQ(presenter->shows, 1);
}

TEST_F(PermissionWindowTest, AWindowDestroyedWithAPendingUpdateDoesNothing) {
    needs.value = true;
    { PermissionWindow window(queue, needs.flag(), presenter); }
    queue.runUntilIdle();
    needs.set(false);
    needs.set(true);
    queue.runUntilIdle();
    EXPECT_EQ(presenter->shows, 0);
    EXPECT_EQ(needs.observers.size(), 0u);
}

} // namespace
} // namespace orevant
