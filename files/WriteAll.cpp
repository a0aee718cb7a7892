#include "files/WriteAll.h"

#include <cerrno>
#include <unistd.h>

namespace doodle {

bool writeAll(int fd, std::span<const std::byte> bytes) noexcept {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

bool writeAll(int fd, std::string_view bytes) noexcept {
    // (A span made from the view itself does not compile with the WebAssembly build's libc++.)
    return writeAll(fd, std::as_bytes(std::span<const char>(bytes.data(), bytes.size())));
}

} // namespace doodle
