#include "ui/symbols.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <map>

namespace orevant::Symbols {

namespace {

struct Symbol {
    const char* theme;
    const char* glyph; // drawn when the theme has no icon
};

const std::map<std::string, Symbol>& table() {
    static const std::map<std::string, Symbol> symbols{
        {"speaker.slash.fill", {"audio-volume-muted", "\u00d7"}},
        {"speaker.fill", {"audio-volume-muted", "\u25c1"}},
        {"speaker.wave.1.fill", {"audio-volume-low", ")"}},
        {"speaker.wave.2.fill", {"audio-volume-medium", "))"}},
        {"speaker.wave.3.fill", {"audio-volume-high", ")))"}},
        {"arrow.turn.down.right", {"go-next", "\u21b3"}},
        {"xmark.circle.fill", {"edit-delete", "\u00d7"}},
        {"slider.vertical.3", {"preferences-system", "\u2261"}},
        {"waveform.slash", {"audio-x-generic", "~"}},
        {"mic.slash", {"microphone-sensitivity-muted", "\u00d8"}},
        {"mic.fill", {"audio-input-microphone", "M"}},
        {"exclamationmark.triangle.fill", {"dialog-warning", "!"}},
        {"arrow.down.circle.fill", {"system-software-update", "\u2193"}},
        {"arrow.clockwise", {"view-refresh", "\u21bb"}},
        {"checkmark.seal.fill", {"emblem-default", "\u2713"}},
        {"plus", {"list-add", "+"}},
        {"headphones", {"audio-headphones", "H"}},
        {"hifispeaker.fill", {"audio-speakers", "S"}},
        {"laptopcomputer", {"computer-laptop", "L"}},
        {"desktopcomputer", {"computer", "C"}},
        {"airpodspro", {"audio-headset", "B"}},
        {"cable.connector", {"audio-card", "\u2301"}},
        {"dot.radiowaves.left.and.right", {"bluetooth", "B"}},
        {"app.fill", {"application-x-executable", "\u25a0"}},
        {"record.circle", {"media-record", "\u25cf"}},
    };
    return symbols;
}

QIcon drawn(const char* glyph) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font("DejaVu Sans");
    font.setPixelSize(22);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(90, 90, 90));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QString::fromUtf8(glyph));
    return QIcon(pixmap);
}

} // namespace

const char* themeName(const std::string& symbol) {
    auto found = table().find(symbol);
    return found == table().end() ? "" : found->second.theme;
}

QIcon icon(const std::string& symbol) {
    static std::map<std::string, QIcon> cache;
    if (auto hit = cache.find(symbol); hit != cache.end()) return hit->second;
    auto found = table().find(symbol);
    const char* glyph = found == table().end() ? "?" : found->second.glyph;
    QIcon result = QIcon::fromTheme(QString::fromUtf8(themeName(symbol)), drawn(glyph));
    cache.emplace(symbol, result);
    return result;
}

} // namespace orevant::Symbols
