#pragma once
// The two listening buses of a multichannel interface: MAIN (the monitors) and PHONES (a
// headphone pair). Plain value; any thread.
#include <optional>
#include <string_view>

namespace orevant {

enum class OutputBus { main, phones };

// "main" or "phones".
constexpr std::string_view rawValue(OutputBus bus) { return bus == OutputBus::main ? "main" : "phones"; }

// The bus with that raw value; nothing for any other text.
constexpr std::optional<OutputBus> outputBus(std::string_view raw) {
    if (raw == "main") return OutputBus::main;
    if (raw == "phones") return OutputBus::phones;
    return std::nullopt;
}

} // namespace orevant
