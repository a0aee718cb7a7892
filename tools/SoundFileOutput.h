#pragma once

#include "recording/ReplacementFile.h"

#include <cstdint>
#include <sndfile.h>
#include <span>
#include <string>
#include <string_view>

namespace doodle {

// A sound file format the render writes, chosen by the output's extension.
struct OutputFormat {
    std::string_view extension{};    // lower case, with its dot
    int sndfileFormat = 0;           // libsndfile's container | encoding
    std::string_view description{};  // one line of --help
    int64_t maxFrames = 0;           // frames the container's size fields can hold; 0: no limit
    bool oggStream = false;          // its stream serial number needs fixing (see commit())
    bool clipsPastFullScale = false; // integer samples: |x| > 1 is clipped, not kept
};

std::span<const OutputFormat> outputFormats() noexcept;
// The format for a file name's extension, in any case; nullptr when there is none.
const OutputFormat* formatForFileName(std::string_view fileName) noexcept;
// One line per format for --help.
std::string outputFormatLines();
// Whether a file name ends in `extension` (lower case, with its dot), in any case. A name that
// is all extension, as ".wav", is a hidden file without one.
bool hasExtension(std::string_view fileName, std::string_view extension) noexcept;
// One line of --help for a format: its extension, then its description in a column.
std::string formatLine(std::string_view extension, std::string_view description);

// The prefix of the tool's temporary files, beside the file being written.
inline constexpr std::string_view kRenderTempPrefix = ".doodlechorus-render-";
// Why ReplacementFile::open gave `result` for `path`, as one line; errno must still hold the
// reason where the result has one.
std::string replaceOpenFailure(ReplaceOpen result, const std::string& path);

// A mono 44100 Hz sound file, written into a temporary file in the folder of its final name,
// which it takes only on commit(): until then, and after any failure, a file under the final
// name keeps what it had and nothing else is left behind (see ReplacementFile for the one
// exception). libsndfile writes through callbacks here, so every write is checked whatever the
// format: some encoders ignore failed writes. Every failure leaves one line, the reason, in
// error().
class SoundFileOutput {
public:
    SoundFileOutput() = default;
    ~SoundFileOutput();
    SoundFileOutput(const SoundFileOutput&) = delete;
    SoundFileOutput& operator=(const SoundFileOutput&) = delete;

    // A symbolic link as `path` stays a link: its target is replaced. An existing file the user
    // may not write, a folder, a device, a FIFO or a socket under `path` is refused.
    bool open(const std::string& path, const OutputFormat& format);
    bool write(std::span<const float> samples);
    // Completes the file, syncs it and gives it its final name.
    bool commit();
    // Drops the temporary file; the final name is left as it was.
    void discard() noexcept;

    const std::string& error() const noexcept { return m_error; }

    // What libsndfile's callbacks work on: the file, and the first error they met.
    struct DescriptorIo {
        int fd = -1;
        int errorNumber = 0; // errno of the first failed call, 0 while all went well
    };

private:
    bool fail(std::string reason);
    // The reason for a failed libsndfile call: the system's when a callback failed.
    std::string writeFailure(const char* libraryReason) const;
    bool fixOggSerial();

    std::string m_displayPath{}; // as the user wrote it, for messages
    ReplacementFile m_file{};
    DescriptorIo m_io{};
    SNDFILE* m_sndfile = nullptr;           // writing into m_file
    const OutputFormat* m_format = nullptr; // set by open()
    std::string m_error{};
};

} // namespace doodle
