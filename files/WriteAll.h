#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace doodle {

// Writes every byte to the descriptor, going on after short writes and writes interrupted by a
// signal. False, with errno saying why, when a write fails; EIO for a write that made no
// progress and gave no reason. The bytes written before a failure stay written.
bool writeAll(int fd, std::span<const std::byte> bytes) noexcept;
bool writeAll(int fd, std::string_view bytes) noexcept;

} // namespace doodle
