#include "app/permission_window.h"

#include "platform/manual_main_queue.h"
#include "support/recording_presenter.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

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
    std::shared_ptr<test::RecordingPresenter> presenter = std::make_shared<test::RecordingPresenter>();
};

// The prompt appears from a main-queue task, once per launch however often the flag comes back;
// the banner follows the flag each time; a grant while it is open closes it.
TEST_F(PermissionWindowTest, ThePromptShowsOncePerLaunchFromTheMainQueueAndClosesOnAGrant) {
    needs.value = true;
    PermissionWindow window(queue, needs.flag(), presenter);
    EXPECT_EQ(presenter->shows, 0);
    struct Step {
        bool needed;
        int shows;
        int closes;
    };
    for (const Step& s : {Step{true, 1, 0}, Step{false, 1, 1}, Step{true, 1, 1}, Step{true, 1, 1}}) {
        needs.set(s.needed);
        queue.runUntilIdle();
        EXPECT_EQ(presenter->shows, s.shows);
        EXPECT_EQ(presenter->closes, s.closes);
        EXPECT_EQ(PermissionWindow::isBannerVisible(needs.value), s.needed);
    }
    EXPECT_FALSE(window.isOpen());
}

TEST_F(PermissionWindowTest, OpenPrivacySettingsOpensTheDeepLinkAndClosesTheWindowOnce) {
    needs.value = true;
    PermissionWindow window(queue, needs.flag(), presenter);
    queue.runUntilIdle();
    ASSERT_TRUE(window.isOpen());
    std::vector<std::string> opened;
    window.openPrivacySettings([&](const std::string& url) { opened.push_back(url); });
    EXPECT_EQ(opened, std::vector<std::string>{PermissionWindow::kSettingsURL});
    EXPECT_FALSE(window.isOpen());
    window.close();
    EXPECT_EQ(presenter->closes, 1) << "closing a closed window does nothing";
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
