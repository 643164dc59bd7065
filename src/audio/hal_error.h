#pragma once
// The one error type of every audio-server operation.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace orevant {

class HALError : public std::runtime_error {
public:
    enum class Kind { osStatus, operation };

    static HALError osStatus(int32_t status, uint32_t selector);
    static HALError operation(int32_t status, std::string operationName);

    Kind kind() const { return kind_; }
    int32_t status() const { return status_; }
    uint32_t selector() const { return selector_; }
    const std::string& operationName() const { return operation_; }
    std::string localizedDescription() const { return what(); }

private:
    HALError(Kind kind, int32_t status, uint32_t selector, std::string operation, const std::string& text)
        : std::runtime_error(text),
          kind_(kind),
          status_(status),
          selector_(selector),
          operation_(std::move(operation)) {}

    Kind kind_;
    int32_t status_;
    uint32_t selector_;
    std::string operation_;
};

} // namespace orevant
