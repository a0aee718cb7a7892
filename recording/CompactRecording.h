#pragma once

#include "recording/ControlSettings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace doodle {

// A recording file (the bytes Save writes) in a compact form for links, to be deflated
// afterwards: a layout byte, the number of lines and the median step of the elapsed ms, then
// the lines' numbers as differences from what the lines before predict, written as
// zigzag LEB128 variable-length integers, and a 16-bit check of the file's bytes, so that a
// damaged link is found out. The numbers are kept in one of several layouts: in columns (all
// x, then all y, the release flags, the ms), in rows (a line's four numbers together), or with
// x, y and ms joined into one byte a line where they are small; first or second differences
// for x and y; the release flags one a line or in runs. Which layout deflates shortest depends
// on the drawing: callers deflate each and keep the shortest. Expanding gives back exactly the
// bytes that were made compact.
inline constexpr std::size_t kCompactLayoutCount = 4;

// The file in layout `layoutIndex` (0..kCompactLayoutCount-1); nothing when the bytes are not
// exactly as the program writes a recording: every line four whole numbers in plain decimal
// ("-" only for negatives, no leading zeros) within int32 joined by ";", each line ended by
// CR LF. Empty bytes (no lines) are such a file.
std::optional<std::vector<uint8_t>> compactRecording(std::span<const uint8_t> savBytes,
                                                     std::size_t layoutIndex);

enum class ExpandProblem {
    None,
    Damaged,  // not made by compactRecording, or changed since
    TooLarge, // the file would hold more than the bytes allowed
};

struct ExpandedRecording {
    std::vector<uint8_t> savBytes{}; // empty unless problem is None
    ExpandProblem problem = ExpandProblem::None;
};

// The file of compact bytes, holding at most maxSavBytes. Any bytes may come in (a link is
// whatever someone pasted): the work and the memory stay within a small multiple of
// maxSavBytes and of the compact bytes' size.
ExpandedRecording expandCompactRecording(std::span<const uint8_t> compact, std::size_t maxSavBytes);

// The settings a link carries as one number, the mixed radix of tuning, scale mode, root, voice
// type less one, grid and speed in tenths less the slowest, the speed last; -1 for settings out
// of range. Numbers below 7872 (every number made before the tuning was added) are Classic.
int32_t linkSettingsNumber(const ControlSettings& settings);

// The settings of linkSettingsNumber's number; nothing for a number no settings give.
std::optional<ControlSettings> linkSettingsOf(int64_t number);

} // namespace doodle
