#include "tools/OutputFile.h"

#include "tools/Quoted.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace doodle {

bool OutputFile::fail(std::string reason) {
    m_error = std::move(reason);
    discard();
    return false;
}

bool OutputFile::open(const std::string& path, ReplaceAccess access) {
    m_displayPath = path;
    m_standardOutput = path == kStandardStreamName;
    if (m_standardOutput) {
        // Sound and MIDI bytes would garble the terminal.
        if (::isatty(STDOUT_FILENO) == 1) {
            return fail(failure("it is a terminal; redirect it to a file or a pipe"));
        }
        return true;
    }
    switch (m_file.open(path, kRenderTempPrefix, access)) {
    case ReplaceOpen::Created:
        return true;
    case ReplaceOpen::TargetUnusable:
        return fail(systemFailure());
    case ReplaceOpen::TargetIsFolder:
        return fail(failure("it is a folder"));
    case ReplaceOpen::TargetNotRegular:
        return fail(failure("it is a device, FIFO or socket, not a regular file"));
    case ReplaceOpen::NoTempFile:
        return fail("cannot write in the folder of " + inQuotes(path) + ": " +
                    std::strerror(errno));
    }
    return fail(failure("it cannot be opened"));
}

int OutputFile::fd() const noexcept {
    return m_standardOutput ? STDOUT_FILENO : m_file.fd();
}

bool OutputFile::commit() {
    if (!m_standardOutput && !m_file.commit()) {
        return fail(systemFailure());
    }
    return true;
}

std::string OutputFile::failure(std::string_view reason) const {
    std::string line = "cannot write ";
    line += m_standardOutput ? std::string("to standard output") : inQuotes(m_displayPath);
    line += ": ";
    line += reason;
    return line;
}

std::string OutputFile::systemFailure() const {
    return failure(std::strerror(errno));
}

} // namespace doodle
