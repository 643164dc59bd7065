#include "support/temp_dir.h"
#include "ui/desktop_agent.h"

#include <fstream>
#include <gtest/gtest.h>

namespace orevant {
namespace {

// A display variable naming nothing that answers must give the headless agent, not a Qt abort.
TEST(DesktopAgentTest, ChoosesTheDesktopOnlyForADisplayThatExists) {
    test::TempDir runtime;
    std::ofstream(runtime.path() / "wayland-7") << "";
    const std::string dir = runtime.path().string();
    struct Case {
        const char* display;
        const char* wayland;
        bool desktop;
    };
    for (Case c : {Case{nullptr, "wayland-7", true}, Case{nullptr, "wayland-8", false}, Case{"", "", false},
                   Case{":98765", nullptr, false}, Case{"localhost:10.0", nullptr, true}, Case{":x", nullptr, false},
                   Case{"no-colon", nullptr, false}, Case{":98765.0", "wayland-7", true}}) {
        EXPECT_EQ(DesktopAgent::hasDisplay(c.display, c.wayland, dir.c_str()), c.desktop)
            << (c.display ? c.display : "-") << " " << (c.wayland ? c.wayland : "-");
    }
    EXPECT_FALSE(DesktopAgent::hasDisplay(nullptr, "wayland-7", nullptr)) << "a relative socket needs the runtime dir";
}

} // namespace
} // namespace orevant
