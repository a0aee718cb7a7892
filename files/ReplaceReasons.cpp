#include "files/ReplaceReasons.h"

#include "files/Quoted.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace doodle {
namespace {

constexpr uint64_t kThousand = 1000;
constexpr std::array<std::string_view, 5> kByteUnits{"bytes", "kB", "MB", "GB", "TB"};

} // namespace

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

std::string openRefusalReason(ReplaceOpen result, const ReplacementFile& file, int error) {
    switch (result) {
    case ReplaceOpen::Created:
        break;
    case ReplaceOpen::TargetUnusable:
        return std::strerror(error);
    case ReplaceOpen::TargetIsFolder:
        return "it is a folder";
    case ReplaceOpen::TargetNotRegular:
        return "it is a device, FIFO or socket, not a regular file";
    case ReplaceOpen::TargetOnPseudoSystem:
        return "it is in one of the kernel's pseudo file systems (such as /proc or /sys), not a"
               " file";
    case ReplaceOpen::TargetBusy:
        return "another program is writing it (it holds the file's lock); try again once that is"
               " done";
    case ReplaceOpen::TargetIsForeignLink:
        return "it is a link another user made in a shared folder (sticky and writable by all, "
               "as /tmp); such a link is not followed";
    case ReplaceOpen::NoTempFile:
        return "no file can be made in the folder " + inQuotes(file.folderPath()) + ": " +
               std::strerror(error);
    }
    return "it cannot be opened";
}

std::string roomShortageReason(const RoomShortage& shortage) {
    return std::string(std::strerror(ENOSPC)) + ": it needs " + sizeText(shortage.neededBytes) +
           " and the file system of " + inQuotes(shortage.folder) + " has " +
           sizeText(shortage.freeBytes) + " free";
}

std::string commitFailureReason(int error, const std::string& keptCopy, std::string_view contents) {
    std::string reason = error == EEXIST
                             ? std::string("another program made a file of that name meanwhile;"
                                           " it is left as that program wrote it")
                             : std::string(std::strerror(error));
    if (!keptCopy.empty()) {
        reason += "; the complete ";
        reason += contents;
        reason += " is in " + inQuotes(keptCopy);
    }
    return reason;
}

} // namespace doodle
