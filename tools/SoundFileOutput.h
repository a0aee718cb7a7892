#pragma once

#include "tools/OutputFile.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <sndfile.h>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace doodle {

// A sound file format the render writes, named by OUT's extension or --type.
struct OutputFormat {
    std::string_view extension{};   // lower case, with its dot
    int container = 0;              // libsndfile's major format
    int encoding = 0;               // libsndfile's subtype without --bits
    std::string_view description{}; // one line of --help
    int64_t maxDataBytes = 0;       // bytes the container's size fields can hold; 0: no limit
    bool takesBits = false;         // --bits 16|24 picks an integer encoding
    bool streams = false;           // libsndfile writes it to a pipe, never seeking back
    bool oggStream = false;         // its stream serial number needs fixing (see ioWrite)
    bool ownFloatWav = false;       // 32-bit float is written by the program's WAV writer
};

// A format with its sample encoding: what one output is written as.
struct SoundEncoding {
    const OutputFormat* format = nullptr;
    int sndfileFormat = 0;  // container | subtype
    int32_t channels = 1;   // 1, or 2 for left and right interleaved
    int64_t maxFrames = 0;  // 0: no limit
    int64_t frameBytes = 0; // of one frame (a sample of each channel), uncompressed
    // The program's own WAV writer: the header first, complete, so it streams to a pipe.
    bool ownFloatWav = false;
    bool clipsPastFullScale = false; // integer samples: |x| > 1 is clipped, not kept
};

std::span<const OutputFormat> outputFormats() noexcept;
// The format for a file name's extension, in any case; nullptr when there is none.
const OutputFormat* formatForFileName(std::string_view fileName) noexcept;
// The format --type names ("wav", "flac", ...: an extension without its dot), in any case.
const OutputFormat* formatForType(std::string_view type) noexcept;
// The encoding of a format with --bits (16 or 24) or without (nothing), for `channels` (1 or 2)
// channels; nothing when the format takes no --bits.
std::optional<SoundEncoding> encodingFor(const OutputFormat& format, std::optional<int32_t> bits,
                                         int32_t channels);
// The size of a file of `frames` frames, header included, for the encodings whose size the
// samples decide (not the compressed ones); a little more, never less.
std::optional<uint64_t> expectedFileBytes(const SoundEncoding& encoding, int64_t frames);
// One line per format for --help.
std::string outputFormatLines();
// Whether a file name ends in `extension` (lower case, with its dot), in any case. A name that
// is all extension, as ".wav", is a hidden file without one.
bool hasExtension(std::string_view fileName, std::string_view extension) noexcept;
// One line of --help for a format: its extension, then its description in a column.
std::string formatLine(std::string_view extension, std::string_view description);

// A 44100 Hz sound file, mono or stereo, written into an OutputFile. A 32-bit float WAV is the
// program's own, the one its window and page export too. The other formats go through libsndfile:
// into a named file through callbacks, so every write is checked whatever the format (some encoders
// ignore failed writes); into standard output, which may be a pipe, libsndfile writes the
// streaming formats itself. Every failure leaves one line, the reason, in error().
class SoundFileOutput {
public:
    SoundFileOutput();
    ~SoundFileOutput();
    SoundFileOutput(const SoundFileOutput&) = delete;
    SoundFileOutput& operator=(const SoundFileOutput&) = delete;

    // `path` and `frames` of sound as OutputFile::open takes them; standard output
    // only for a format that streams.
    bool open(const std::string& path, const SoundEncoding& encoding, int64_t frames);
    // Whole frames: left and right interleaved in a stereo file.
    bool write(std::span<const float> samples);
    // Completes the file, syncs it and gives it its final name.
    bool commit();
    // Drops the temporary file; the final name is left as it was.
    void discard() noexcept;

    const std::string& error() const noexcept { return m_error; }

    // Rewrites the serial number of each Ogg page as libsndfile hands the pages over.
    class OggPageStamper;
    // What libsndfile's callbacks work on: the file, and the first error they met.
    struct DescriptorIo {
        int fd = -1;
        int errorNumber = 0;                // errno of the first failed call, 0 while all well
        OggPageStamper* oggPages = nullptr; // an Ogg stream's pages go through it
        // A pipe: libsndfile learns the position from the bytes written, and no seek works.
        bool stream = false;
        int64_t writtenBytes = 0;
    };

private:
    bool fail(std::string reason);
    // The reason for a failed libsndfile call in the tool's own words, never the library's
    // ("System error : ... ."; a failed FLAC encoder calls itself a decoder there): the
    // system's reason when a write failed, else the encoder that failed. errnoAfterCall is errno
    // right after the call, which tells only where libsndfile writes the descriptor itself.
    std::string writeFailure(int errnoAfterCall) const;

    OutputFile m_file{};
    bool m_ownFloatWav = false;
    std::vector<uint8_t> m_ownWavBytes{}; // one block's samples on their way
    const OutputFormat* m_format = nullptr;
    DescriptorIo m_io{};
    SNDFILE* m_sndfile = nullptr;
    std::unique_ptr<OggPageStamper> m_oggPages{};
    std::string m_error{};
};

} // namespace doodle
