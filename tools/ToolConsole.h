#pragma once

#include <string>

namespace doodle {

// The exit status of every error.
inline constexpr int kExitError = 2;

// Writes to stderr, best effort: if stderr itself fails there is nowhere left to say so.
void printToStderr(const std::string& text);
// Prints "doodlechorus-render: reason" as one line on stderr; returns kExitError.
int failWith(const std::string& reason);

// Ctrl-C, SIGTERM and SIGHUP end the render at the next block, so that the temporary file
// goes: from here on they are only noted. False, with errno set, when they cannot be caught.
bool catchInterrupts();
// Whether one of them came.
bool interrupted() noexcept;
// Says on stderr what the interrupt left of `outputPath`: as it was, or (`written`, when the
// signal was held off until a rewrite in place completed) the complete render. Then ends the
// process as the signal would have; the exit status the shell gives such a process, should the
// signal be blocked.
int endByInterrupt(const std::string& outputPath, bool written);

} // namespace doodle
