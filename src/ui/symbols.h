#pragma once
// The symbol names the windows use ("speaker.wave.2.fill") as icons: the desktop's icon theme
// (freedesktop names) where it has them, else a glyph drawn here, so a bare machine shows them too.
// GUI thread only.
#include <QIcon>
#include <string>

namespace orevant::Symbols {

// The freedesktop icon-theme name for a symbol name; empty when there is none.
const char* themeName(const std::string& symbol);
QIcon icon(const std::string& symbol);

} // namespace orevant::Symbols
