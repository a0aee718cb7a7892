#include "tools/SoundFileOutput.h"

#include "files/WriteAll.h"
#include "recording/AsciiCase.h"
#include "recording/OfflineRender.h"
#include "recording/WavFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ogg/ogg.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace doodle {
namespace {

constexpr int64_t kHeaderAllowanceBytes = 4096;
// RIFF and AU count bytes in unsigned 32-bit fields; libsndfile reads AIFF's as signed.
constexpr int64_t kUnsigned32Bytes = 0xFFFF'FFFF - kHeaderAllowanceBytes;
constexpr int64_t kSigned32Bytes = 0x7FFF'FFFF - kHeaderAllowanceBytes;

constexpr int32_t kBits16 = 16;
constexpr int32_t kBits24 = 24;
constexpr int32_t kBitsPerByte = 8;
constexpr int64_t kFloatBytes = 4;

constexpr std::array<OutputFormat, 10> kFormats{{
    {".wav", SF_FORMAT_WAV, SF_FORMAT_FLOAT,
     "32-bit float WAV, the samples exactly (up to 6.7 hours)", kUnsigned32Bytes, true, false,
     false, true},
    {".flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_24,
     "24-bit FLAC, lossless (peaks beyond full scale are clipped)", 0, true, true},
    {".ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS, "Ogg Vorbis", 0, false, true, true},
    {".oga", SF_FORMAT_OGG, SF_FORMAT_VORBIS, "Ogg Vorbis", 0, false, true, true},
    // Not to a pipe: the header that gives the length and the encoder's delay comes last.
    {".mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III, "MP3"},
    {".aiff", SF_FORMAT_AIFF, SF_FORMAT_FLOAT, "32-bit float AIFF-C (up to 3.3 hours)",
     kSigned32Bytes, true},
    {".aif", SF_FORMAT_AIFF, SF_FORMAT_FLOAT, "32-bit float AIFF-C (up to 3.3 hours)",
     kSigned32Bytes, true},
    {".au", SF_FORMAT_AU, SF_FORMAT_FLOAT, "32-bit float Sun/NeXT audio (up to 6.7 hours)",
     kUnsigned32Bytes, false, true},
    {".caf", SF_FORMAT_CAF, SF_FORMAT_FLOAT, "32-bit float Core Audio Format, no length limit"},
    {".w64", SF_FORMAT_W64, SF_FORMAT_FLOAT, "32-bit float Sony Wave64, no length limit"},
}};
constexpr std::size_t kExtensionColumn = 16; // --help lines: the description starts here
constexpr std::string_view kHelpIndent = "  ";

constexpr char kPathSeparator = '/';

// Any fixed number does: a render is one stream, never chained with another.
constexpr uint32_t kOggSerial = 0x446F6F64;
constexpr std::size_t kOggSerialOffset = 14; // bytes into a page header, little-endian
constexpr std::size_t kOggSerialBytes = 4;

// libsndfile's virtual I/O on a descriptor: each call is checked, and the first failure kept
// for the message, since libsndfile's own text would be vague ("Unspecified internal error").
using Io = SoundFileOutput::DescriptorIo;

Io& ioOf(void* userData) noexcept {
    return *static_cast<Io*>(userData);
}

void noteError(Io& io) noexcept {
    if (io.errorNumber == 0) {
        io.errorNumber = errno;
    }
}

sf_count_t ioLength(void* userData) noexcept {
    Io& io = ioOf(userData);
    if (io.stream) {
        return io.writtenBytes;
    }
    struct stat status {};
    if (::fstat(io.fd, &status) != 0) {
        noteError(io);
        return -1;
    }
    return status.st_size;
}

sf_count_t ioSeek(sf_count_t offset, int whence, void* userData) noexcept {
    Io& io = ioOf(userData);
    const off_t position = ::lseek(io.fd, offset, whence);
    if (position < 0) {
        noteError(io);
    }
    return position;
}

sf_count_t ioTell(void* userData) noexcept {
    const Io& io = ioOf(userData);
    return io.stream ? io.writtenBytes : ioSeek(0, SEEK_CUR, userData);
}

sf_count_t ioRead(void* bytes, sf_count_t byteCount, void* userData) noexcept {
    Io& io = ioOf(userData);
    auto* at = static_cast<unsigned char*>(bytes);
    sf_count_t done = 0;
    while (done < byteCount) {
        const ssize_t count = ::read(io.fd, at + done, static_cast<std::size_t>(byteCount - done));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            noteError(io);
        }
        if (count <= 0) {
            break; // the end of what is written so far, or an error
        }
        done += count;
    }
    return done;
}

} // namespace

// libsndfile numbers an Ogg stream from the clock, so two renders of the same samples would
// differ. Each page gets a fixed number instead, and its checksum is set again, on its way to
// the file: libsndfile writes Ogg strictly in order, so this works on a pipe as well.
class SoundFileOutput::OggPageStamper {
public:
    // Both always return 0.
    OggPageStamper() noexcept { static_cast<void>(ogg_sync_init(&m_sync)); }
    ~OggPageStamper() { static_cast<void>(ogg_sync_clear(&m_sync)); }
    OggPageStamper(const OggPageStamper&) = delete;
    OggPageStamper& operator=(const OggPageStamper&) = delete;

    // Writes the pages that the bytes complete. False, with errno set, when a write fails or
    // the bytes are not Ogg pages.
    bool write(int fd, std::span<const std::byte> bytes) noexcept {
        char* buffer = ogg_sync_buffer(&m_sync, static_cast<long>(bytes.size()));
        if (buffer == nullptr) {
            errno = ENOMEM;
            return false;
        }
        std::memcpy(buffer, bytes.data(), bytes.size());
        if (ogg_sync_wrote(&m_sync, static_cast<long>(bytes.size())) != 0) {
            errno = EIO;
            return false;
        }
        ogg_page page{};
        int found = 0;
        while ((found = ogg_sync_pageout(&m_sync, &page)) == 1) {
            for (std::size_t i = 0; i < kOggSerialBytes; ++i) {
                page.header[kOggSerialOffset + i] =
                    static_cast<unsigned char>(kOggSerial >> (kBitsPerByte * i));
            }
            ogg_page_checksum_set(&page);
            const auto header =
                std::as_bytes(std::span(page.header, static_cast<std::size_t>(page.header_len)));
            const auto body =
                std::as_bytes(std::span(page.body, static_cast<std::size_t>(page.body_len)));
            if (!writeAll(fd, header) || !writeAll(fd, body)) {
                return false;
            }
        }
        if (found < 0) {
            errno = EIO; // bytes outside a page: not the Ogg stream libsndfile writes
            return false;
        }
        return true;
    }

    // Whether every byte handed over went out in a whole page.
    bool complete() const noexcept { return m_sync.fill == m_sync.returned; }

private:
    ogg_sync_state m_sync{};
};

namespace {

sf_count_t ioWrite(const void* bytes, sf_count_t byteCount, void* userData) noexcept {
    Io& io = ioOf(userData);
    const std::span<const std::byte> span(static_cast<const std::byte*>(bytes),
                                          static_cast<std::size_t>(byteCount));
    const bool written =
        io.oggPages != nullptr ? io.oggPages->write(io.fd, span) : writeAll(io.fd, span);
    if (!written) {
        noteError(io);
        return 0;
    }
    io.writtenBytes += byteCount;
    return byteCount;
}

SF_VIRTUAL_IO descriptorIo() noexcept {
    SF_VIRTUAL_IO io{};
    io.get_filelen = ioLength;
    io.seek = ioSeek;
    io.read = ioRead;
    io.write = ioWrite;
    io.tell = ioTell;
    return io;
}

} // namespace

std::span<const OutputFormat> outputFormats() noexcept {
    return kFormats;
}

bool hasExtension(std::string_view fileName, std::string_view extension) noexcept {
    const std::size_t slash = fileName.rfind(kPathSeparator);
    if (slash != std::string_view::npos) {
        fileName.remove_prefix(slash + 1);
    }
    // A name that is only the extension names no file.
    return fileName.size() > extension.size() && endsWithIgnoringAsciiCase(fileName, extension);
}

const OutputFormat* formatForFileName(std::string_view fileName) noexcept {
    const auto found = std::ranges::find_if(kFormats, [&](const OutputFormat& format) {
        return hasExtension(fileName, format.extension);
    });
    return found == kFormats.end() ? nullptr : &*found;
}

std::string formatLine(std::string_view extension, std::string_view description) {
    std::string line = std::string(kHelpIndent) + std::string(extension);
    line.resize(std::max(kExtensionColumn, line.size() + 1), ' ');
    line += description;
    line += '\n';
    return line;
}

std::string outputFormatLines() {
    std::string lines;
    for (const OutputFormat& format : kFormats) {
        lines += formatLine(format.extension, format.description);
    }
    return lines;
}

const OutputFormat* formatForType(std::string_view type) noexcept {
    const auto found = std::ranges::find_if(kFormats, [&](const OutputFormat& format) {
        return equalsIgnoringAsciiCase(format.extension.substr(1), type);
    });
    return found == kFormats.end() ? nullptr : &*found;
}

std::optional<SoundEncoding> encodingFor(const OutputFormat& format, std::optional<int32_t> bits,
                                         int32_t channels) {
    SoundEncoding encoding{&format, format.container | format.encoding, channels};
    int64_t sampleBytes = kFloatBytes;
    if (bits) {
        if (!format.takesBits || (*bits != kBits16 && *bits != kBits24)) {
            return std::nullopt;
        }
        encoding.sndfileFormat =
            format.container | (*bits == kBits16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
        sampleBytes = *bits / kBitsPerByte;
    }
    const int subtype = encoding.sndfileFormat & SF_FORMAT_SUBMASK;
    encoding.clipsPastFullScale = subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24;
    encoding.frameBytes = sampleBytes * channels;
    encoding.maxFrames = format.maxDataBytes / encoding.frameBytes;
    encoding.ownFloatWav = format.ownFloatWav && subtype == SF_FORMAT_FLOAT;
    return encoding;
}

std::optional<uint64_t> expectedFileBytes(const SoundEncoding& encoding, int64_t frames) {
    const int container = encoding.sndfileFormat & SF_FORMAT_TYPEMASK;
    if (container == SF_FORMAT_FLAC || container == SF_FORMAT_OGG || container == SF_FORMAT_MPEG) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(frames * encoding.frameBytes + kHeaderAllowanceBytes);
}

SoundFileOutput::SoundFileOutput() = default;

SoundFileOutput::~SoundFileOutput() {
    discard();
}

bool SoundFileOutput::fail(std::string reason) {
    m_error = std::move(reason);
    discard();
    return false;
}

bool SoundFileOutput::open(const std::string& path, const SoundEncoding& encoding, int64_t frames) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(kRenderSampleRate);
    info.channels = encoding.channels;
    info.format = encoding.sndfileFormat;
    if (sf_format_check(&info) == SF_FALSE) {
        return fail("this libsndfile cannot write " + std::string(encoding.format->description));
    }
    if (!m_file.open(path, expectedFileBytes(encoding, frames))) {
        return fail(m_file.error());
    }
    if (encoding.ownFloatWav) {
        m_ownFloatWav = true;
        const std::optional<FloatWavHeader> header =
            floatWavHeader(static_cast<int32_t>(kRenderSampleRate), frames, encoding.channels);
        if (!header) {
            return fail(m_file.failure("too long for a WAV file"));
        }
        if (!writeAll(m_file.fd(), std::as_bytes(std::span(*header)))) {
            return fail(m_file.systemFailure());
        }
        return true;
    }
    if (encoding.format->oggStream) {
        m_oggPages = std::make_unique<OggPageStamper>();
    }
    m_format = encoding.format;
    m_io = DescriptorIo{m_file.fd(), 0, m_oggPages.get(), m_file.isStandardOutput()};
    errno = 0;
    if (m_file.isStandardOutput() && !encoding.format->oggStream) {
        // libsndfile knows a pipe and writes the streaming formats without seeking back.
        m_sndfile = sf_open_fd(m_file.fd(), SFM_WRITE, &info, SF_FALSE);
    } else {
        SF_VIRTUAL_IO io = descriptorIo();
        m_sndfile = sf_open_virtual(&io, SFM_WRITE, &info, &m_io);
    }
    if (m_sndfile == nullptr) {
        return fail(m_file.failure(writeFailure(errno)));
    }
    // The PEAK chunk of float WAV and AIFF holds the time of writing: without it, the same
    // samples give the same bytes. The call's result only echoes the request; a refusal shows
    // as the file's error.
    static_cast<void>(sf_command(m_sndfile, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE));
    if (sf_error(m_sndfile) != SF_ERR_NO_ERROR) {
        return fail(m_file.failure(writeFailure(0)));
    }
    // The voice is not clipped and may pass full scale; integer formats must not wrap round.
    if (sf_command(m_sndfile, SFC_SET_CLIPPING, nullptr, SF_TRUE) != SF_TRUE) {
        return fail(m_file.failure("libsndfile refuses to clip"));
    }
    return true;
}

bool SoundFileOutput::write(std::span<const float> samples) {
    if (m_ownFloatWav) {
        m_ownWavBytes.clear();
        appendFloatSamples(m_ownWavBytes, samples);
        if (!writeAll(m_file.fd(), std::as_bytes(std::span(m_ownWavBytes)))) {
            return fail(m_file.systemFailure());
        }
        return true;
    }
    const auto count = static_cast<sf_count_t>(samples.size());
    errno = 0;
    // sf_write_float counts samples, not frames: a stereo block is taken whole.
    if (sf_write_float(m_sndfile, samples.data(), count) != count || m_io.errorNumber != 0) {
        return fail(m_file.failure(writeFailure(errno)));
    }
    return true;
}

bool SoundFileOutput::commit() {
    if (m_ownFloatWav) {
        if (!m_file.commit()) {
            return fail(m_file.error());
        }
        return true;
    }
    // Encoders flush their last frames here: a failed write may show only now.
    errno = 0;
    const int closeError = sf_close(std::exchange(m_sndfile, nullptr));
    if (closeError != SF_ERR_NO_ERROR || m_io.errorNumber != 0) {
        return fail(m_file.failure(writeFailure(errno)));
    }
    if (m_oggPages && !m_oggPages->complete()) {
        return fail(m_file.failure("libsndfile wrote bytes outside Ogg pages"));
    }
    if (!m_file.commit()) {
        return fail(m_file.error());
    }
    return true;
}

std::string SoundFileOutput::writeFailure(int errnoAfterCall) const {
    if (m_io.errorNumber != 0) {
        return std::strerror(m_io.errorNumber);
    }
    // Through the callbacks every failed write is noted above; errno may be left from calls
    // that failed harmlessly inside the library.
    const bool libraryWrites = m_file.isStandardOutput() && m_oggPages == nullptr;
    if (libraryWrites && errnoAfterCall != 0) {
        return std::strerror(errnoAfterCall);
    }
    return "the " + std::string(m_format != nullptr ? m_format->extension : "sound file") +
           " encoder failed";
}

void SoundFileOutput::discard() noexcept {
    // Whatever fails here, the temporary file is dropped: the render has failed already.
    if (m_sndfile != nullptr) {
        static_cast<void>(sf_close(std::exchange(m_sndfile, nullptr)));
    }
    m_file.discard();
}

} // namespace doodle
