// The agent's entry point. For now it starts, logs its version and exits.
#include "platform/logger.h"
#include "platform/stderr_log_sink.h"

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("orevant %s\n", OREVANT_VERSION);
            return 0;
        }
    }
    orevant::Logger::setSink(std::make_shared<orevant::StderrLogSink>());
    orevant::Logger("OREVANTApp").notice(orevant::strprintf("OREVANT %s starting", OREVANT_VERSION));
    return 0;
}
