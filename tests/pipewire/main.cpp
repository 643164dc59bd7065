// The PipeWire integration tests: one private stack (scripts/pipewire-stack.sh) for the whole
// binary, started before the first test and stopped after the last.
#include "platform/logger.h"
#include "platform/stderr_log_sink.h"
#include "support/pipewire_stack.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace {
orevant::test::PipeWireStack* theStack = nullptr;

class StackEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        stack_ = std::make_unique<orevant::test::PipeWireStack>();
        theStack = stack_.get();
        ASSERT_TRUE(stack_->isUp()) << "the private PipeWire stack did not start";
    }
    void TearDown() override {
        theStack = nullptr;
        stack_.reset();
    }

private:
    std::unique_ptr<orevant::test::PipeWireStack> stack_;
};
} // namespace

namespace orevant::test {
PipeWireStack& stack() { return *theStack; }
} // namespace orevant::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // OREVANT_TEST_LOG=1 shows the components' log lines while the tests run.
    if (std::getenv("OREVANT_TEST_LOG")) orevant::Logger::setSink(std::make_shared<orevant::StderrLogSink>());
    ::testing::AddGlobalTestEnvironment(new StackEnvironment);
    return RUN_ALL_TESTS();
}
