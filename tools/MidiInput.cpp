#include "tools/MidiInput.h"

#include "files/Quoted.h"
#include "files/ReplacementFile.h"
#include "recording/MidiFile.h"
#include "recording/MidiFileInput.h"
#include "tools/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace doodle {
namespace {

constexpr std::size_t kReadChunkBytes = std::size_t{1} << 16;

// Reads up to `bytes` more bytes into `into`, fewer at the end of the input. False with errno
// on a failed read.
bool readUpTo(int fd, std::size_t bytes, std::vector<std::byte>& into) {
    const std::size_t wanted = into.size() + bytes;
    while (into.size() < wanted) {
        const std::size_t before = into.size();
        into.resize(std::min(wanted, before + kReadChunkBytes));
        const ssize_t count = ::read(fd, into.data() + before, into.size() - before);
        if (count < 0 && errno == EINTR) {
            into.resize(before);
            continue;
        }
        into.resize(before + static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            break;
        }
    }
    return true;
}

std::string inputName(const RenderOptions& options) {
    return options.inputPath == kStandardStreamName
               ? std::string("the MIDI file on standard input")
               : "the MIDI file " + inQuotes(options.inputPath);
}

// "2 and 10", "1, 2 and 10".
std::string listOfChannels(const std::vector<int32_t>& channels) {
    std::string list;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i > 0) {
            list += i + 1 == channels.size() ? " and " : ", ";
        }
        list += std::to_string(channels[i]);
    }
    return list;
}

MidiInput failed(std::string reason) {
    MidiInput input;
    input.error = std::move(reason);
    return input;
}

// The rest of a MIDI file after its first bytes, bounded; then the recording it makes.
MidiInput singMidi(int fd, std::vector<std::byte> bytes, const RenderOptions& options) {
    const std::string name = inputName(options);
    if (!readUpTo(fd, kMaxMidiInputBytes + 1 - bytes.size(), bytes)) {
        return failed("cannot read " + name + ": " + std::strerror(errno));
    }
    if (bytes.size() > kMaxMidiInputBytes) {
        return failed("cannot read " + name + ": it is larger than 16 MiB, more than a melody");
    }
    MidiInputChoice choice;
    choice.performance.scaleMode = options.settings.scaleMode;
    choice.performance.scale =
        buildScale(options.settings.scaleMode, options.settings.rootIndex, Scale{});
    choice.performance.tuning = options.settings.tuning;
    choice.performance.fixedY = options.vowelRow;
    choice.channel = options.midiChannel;
    MidiFileRecording sung = recordingOfMidiFile(bytes, choice);
    if (!sung.recording) {
        const std::string drumsHint =
            sung.onlyDrums ? "; --channel " + std::to_string(kMidiDrumChannel) + " sings them"
                           : std::string();
        return failed("cannot sing " + name + ": " + sung.error + drumsHint);
    }
    MidiInput input;
    input.recording = std::move(sung.recording);
    if (!options.midiChannel && sung.noteChannels.size() > 1) {
        input.notice = "singing channel " + std::to_string(sung.channel) + " of " + name +
                       ", which has notes on channels " + listOfChannels(sung.noteChannels) +
                       " (--channel N sings another)";
    }
    return input;
}

} // namespace

MidiInput readMidiInput(const RenderOptions& options) {
    const bool midiOptions = options.midiChannel || options.vowelRow;
    std::vector<std::byte> start;
    MidiInput input;
    if (options.inputPath == kStandardStreamName) {
        // A failed read leaves the rest to the recording reader, which meets it again and
        // says why.
        if (readUpTo(STDIN_FILENO, kMidiChunkIdBytes, start) && startsAsMidiFile(start)) {
            return singMidi(STDIN_FILENO, std::move(start), options);
        }
        input.consumed.assign(reinterpret_cast<const char*>(start.data()), start.size());
    } else {
        // Opened as the recording reader opens it, and read only when it is a regular file; the
        // reader opens it again, and says why when it cannot.
        const FileDescriptor fd(
            ::open(options.inputPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat info {};
        if (fd.valid() && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
            readUpTo(fd.get(), kMidiChunkIdBytes, start) && startsAsMidiFile(start)) {
            return singMidi(fd.get(), std::move(start), options);
        }
    }
    if (midiOptions) {
        input.error = "--channel and --vowel choose what a MIDI file sings; " +
                      (options.inputPath == kStandardStreamName
                           ? std::string("standard input holds a recording")
                           : inQuotes(options.inputPath) + " is a recording");
    }
    return input;
}

} // namespace doodle
