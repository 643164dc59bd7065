#include "support/test_daemon.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace orevant::test {

namespace {
int runScript(const std::string& command, const std::filesystem::path& dir, const std::filesystem::path& log) {
    const std::string line = "bash '" OREVANT_SOURCE_DIR "/scripts/test-daemons.sh' " + command + " '" + dir.string() +
                             "' >'" + log.string() + "' 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
} // namespace

TestDaemon::TestDaemon(const std::string& kind) {
    status_ = runScript(kind, dir_.path(), dir_ / "start.log");
    std::ifstream log(dir_ / "start.log");
    std::ostringstream text;
    text << log.rdbuf();
    reason_ = text.str();
    std::ifstream address(dir_ / "address");
    std::getline(address, address_);
    started_ = status_ == 0 && !address_.empty();
}

TestDaemon::~TestDaemon() { runScript("stop", dir_.path(), dir_ / "stop.log"); }

} // namespace orevant::test
