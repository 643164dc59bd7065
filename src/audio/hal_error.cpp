#include "audio/hal_error.h"

namespace orevant {

HALError HALError::osStatus(int32_t status, uint32_t selector) {
    return HALError(Kind::osStatus, status, selector, {},
                    "HAL property " + std::to_string(selector) + " failed: OSStatus " + std::to_string(status));
}

HALError HALError::operation(int32_t status, std::string operationName) {
    const std::string text = "Failed to " + operationName + ": OSStatus " + std::to_string(status);
    return HALError(Kind::operation, status, 0, std::move(operationName), text);
}

} // namespace orevant
