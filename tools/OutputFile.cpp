#include "tools/OutputFile.h"

#include "files/Quoted.h"
#include "tools/RenderOptions.h"
#include "tools/ToolConsole.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace doodle {
namespace {

constexpr uint64_t kThousand = 1000;
constexpr std::array<std::string_view, 5> kByteUnits{"bytes", "kB", "MB", "GB", "TB"};

// "379.1 GB": a size as people read it, in decimal units as disk sizes are given.
std::string sizeText(uint64_t bytes) {
    std::size_t unit = 0;
    uint64_t scaled = bytes;
    uint64_t tenths = 0;
    while (scaled >= kThousand && unit + 1 < kByteUnits.size()) {
        tenths = scaled % kThousand / (kThousand / 10);
        scaled /= kThousand;
        ++unit;
    }
    std::string text = std::to_string(scaled);
    if (unit > 0) {
        text += '.';
        text += std::to_string(tenths);
    }
    text += ' ';
    text += kByteUnits[unit];
    return text;
}

} // namespace

bool OutputFile::fail(std::string reason) {
    m_error = std::move(reason);
    discard();
    return false;
}

bool OutputFile::open(const std::string& path, std::optional<uint64_t> expectedBytes, bool quiet) {
    m_displayPath = path;
    m_quiet = quiet;
    m_standardOutput = path == kStandardStreamName;
    if (m_standardOutput) {
        // Sound and MIDI bytes would garble the terminal.
        if (::isatty(STDOUT_FILENO) == 1) {
            return fail(failure("it is a terminal; redirect it to a file or a pipe"));
        }
        return true;
    }
    m_file.setCopyNotice([this](const std::string& keptCopy) {
        if (!m_quiet) {
            printToStderr(std::string(kRenderProgramName) + ": " + inQuotes(m_displayPath) +
                          " is rewritten in place; should that be cut, the complete render is in " +
                          inQuotes(keptCopy) + "\n");
        }
    });
    switch (m_file.open(path, kRenderTempPrefix)) {
    case ReplaceOpen::Created:
        if (const std::optional<RoomShortage> shortage =
                expectedBytes ? m_file.shortOfRoom(*expectedBytes) : std::nullopt) {
            return fail(failure(std::string(std::strerror(ENOSPC)) + ": it needs " +
                                sizeText(shortage->neededBytes) + " and the file system of " +
                                inQuotes(shortage->folder) + " has " +
                                sizeText(shortage->freeBytes) + " free"));
        }
        return true;
    case ReplaceOpen::TargetUnusable:
        return fail(systemFailure());
    case ReplaceOpen::TargetIsFolder:
        return fail(failure("it is a folder"));
    case ReplaceOpen::TargetNotRegular:
        return fail(failure("it is a device, FIFO or socket, not a regular file"));
    case ReplaceOpen::TargetOnPseudoSystem:
        return fail(failure("it is in one of the kernel's pseudo file systems (such as /proc or"
                            " /sys), not a file"));
    case ReplaceOpen::TargetBusy:
        return fail(failure("another program is writing it (it holds the file's lock); try again"
                            " once that is done"));
    case ReplaceOpen::NoTempFile:
        return fail(failure("no file can be made in the folder " + inQuotes(m_file.folderPath()) +
                            ": " + std::strerror(errno)));
    }
    return fail(failure("it cannot be opened"));
}

int OutputFile::fd() const noexcept {
    return m_standardOutput ? STDOUT_FILENO : m_file.fd();
}

bool OutputFile::commit() {
    if (m_standardOutput) {
        return true;
    }
    if (!m_file.commit()) {
        std::string reason = std::strerror(errno);
        if (!m_file.keptCopy().empty()) {
            reason += "; the complete render is in " + inQuotes(m_file.keptCopy());
        }
        return fail(failure(reason));
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
