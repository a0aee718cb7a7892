#pragma once

#include "files/ReplacementFile.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace doodle {

// The reasons a file could not be replaced, as short sentences a user reads after "cannot
// write NAME: ". Written once for the tool's messages and the desktop program's.

// "379.1 GB": a size as people read it, in decimal units as disk sizes are given.
std::string sizeText(uint64_t bytes);

// Why ReplacementFile::open gave `result` (not Created); `error` is the errno it left.
std::string openRefusalReason(ReplaceOpen result, const ReplacementFile& file, int error);

// Why new bytes that would not fit were refused before any was written.
std::string roomShortageReason(const RoomShortage& shortage);

// Why ReplacementFile::commit failed with `error`, naming the complete copy it kept, if any, as
// "the complete <contents> is in ...", contents such as "render" or "recording".
std::string commitFailureReason(int error, const std::string& keptCopy, std::string_view contents);

} // namespace doodle
