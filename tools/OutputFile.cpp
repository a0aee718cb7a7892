#include "tools/OutputFile.h"

#include "files/Quoted.h"
#include "files/ReplaceReasons.h"
#include "tools/RenderOptions.h"
#include "tools/ToolConsole.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace doodle {
namespace {

constexpr std::string_view kRenderedContents = "render";

} // namespace

bool OutputFile::fail(std::string reason) {
    m_error = std::move(reason);
    discard();
    return false;
}

bool OutputFile::open(const std::string& path, std::optional<uint64_t> expectedBytes) {
    m_displayPath = path;
    m_standardOutput = path == kStandardStreamName;
    if (m_standardOutput) {
        // Sound and MIDI bytes would garble the terminal.
        if (::isatty(STDOUT_FILENO) == 1) {
            return fail(failure("it is a terminal; redirect it to a file or a pipe"));
        }
        return true;
    }
    // Named even when quiet: should a kill or a power cut stop the copy, this line is all
    // that says where the complete render is.
    m_file.setCopyNotice([this](const std::string& keptCopy) {
        printToStderr(std::string(kRenderProgramName) + ": " + inQuotes(m_displayPath) +
                      " is rewritten in place; should that be cut, the complete render is in " +
                      inQuotes(keptCopy) + "\n");
    });
    const ReplaceOpen opened = m_file.open(path, kRenderTempPrefix);
    if (opened != ReplaceOpen::Created) {
        return fail(failure(openRefusalReason(opened, m_file, errno)));
    }
    if (const std::optional<RoomShortage> shortage =
            expectedBytes ? m_file.shortOfRoom(*expectedBytes) : std::nullopt) {
        return fail(failure(roomShortageReason(*shortage)));
    }
    return true;
}

int OutputFile::fd() const noexcept {
    return m_standardOutput ? STDOUT_FILENO : m_file.fd();
}

bool OutputFile::commit() {
    if (m_standardOutput) {
        return true;
    }
    if (!m_file.commit()) {
        return fail(failure(commitFailureReason(errno, m_file.keptCopy(), kRenderedContents)));
    }
    if (!m_file.keptCopy().empty()) {
        printToStderr(std::string(kRenderProgramName) + ": warning: " + inQuotes(m_displayPath) +
                      " holds the render, but its temporary copy " + inQuotes(m_file.keptCopy()) +
                      " could not be removed\n");
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
