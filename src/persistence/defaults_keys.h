#pragma once
// Every key the system keeps in the user's defaults store. What each one means belongs to the
// component named beside it.
#include <string_view>

namespace orevant::defaults_keys {

inline constexpr std::string_view appVolumes = "appVolumes";         // data: JSON object, key -> AppVolume
inline constexpr std::string_view busPairings = "busPairings";       // data: JSON object, device UID -> pairing
inline constexpr std::string_view cueOutputUID = "cueOutputUID";     // obsolete: removed at engine start
inline constexpr std::string_view consoleSlots = "consoleSlots";     // string array of exactly 8 entries
inline constexpr std::string_view mixSnapshots = "mixSnapshots";     // data: JSON array of MixSnapshot
inline constexpr std::string_view devicePriority = "devicePriority"; // data: JSON array of UIDs
inline constexpr std::string_view devicePriorityArmed = "devicePriorityArmed";           // data: JSON array of UIDs
inline constexpr std::string_view devicePriorityInput = "devicePriorityInput";           // data: JSON array of UIDs
inline constexpr std::string_view devicePriorityInputArmed = "devicePriorityInputArmed"; // data: JSON array
inline constexpr std::string_view midiMappings = "midiMappings";                         // data: JSON
inline constexpr std::string_view companionPairingPIN = "companionPairingPIN";           // string
inline constexpr std::string_view recordingFolderBookmark = "recordingFolderBookmark";   // data
inline constexpr std::string_view autoRec = "autoRec";                                   // bool, default false
inline constexpr std::string_view autoRecSilence = "autoRecSilence";                     // integer, default 10
inline constexpr std::string_view autoRecTail = "autoRecTail";                           // integer, default 1
inline constexpr std::string_view phonesBusVolume = "phonesBusVolume";                   // float, default 1.0
inline constexpr std::string_view phonesBusMuted = "phonesBusMuted";                     // bool, default false
inline constexpr std::string_view consoleOrientation = "consoleOrientation";             // bool, default false

} // namespace orevant::defaults_keys
