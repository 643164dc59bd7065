#pragma once
// The web companion's page: HTML, CSS and script in one document, shipped inside the binary.
#include <string_view>

namespace orevant {

std::string_view webCompanionPage();

} // namespace orevant
