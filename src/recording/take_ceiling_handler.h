#pragma once
// What a recording lane does when its file reaches the size ceiling: ask the current engine to
// stop recording, which closes the whole take. Process-wide, because the lane knows no engine;
// the engine registers its handler when it becomes current and clears it when it goes.
// Set and called on the main queue.
#include <functional>

namespace orevant {

void setTakeCeilingHandler(std::function<void()> handler);
// Runs the registered handler, if any.
void runTakeCeilingHandler();

} // namespace orevant
