#include "tools/SoundFileOutput.h"

#include "recording/AsciiCase.h"
#include "recording/OfflineRender.h"
#include "tools/Quoted.h"

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

constexpr int kMonoChannels = 1;
constexpr int64_t kFloatBytes = 4;
// Room left for the header and the small chunks around the samples.
constexpr int64_t kHeaderAllowanceBytes = 4096;
// RIFF and AU count bytes in unsigned 32-bit fields; libsndfile reads AIFF's as signed.
constexpr int64_t kUnsigned32Bytes = 0xFFFF'FFFF;
constexpr int64_t kSigned32Bytes = 0x7FFF'FFFF;
constexpr int64_t kMaxUnsigned32Frames = (kUnsigned32Bytes - kHeaderAllowanceBytes) / kFloatBytes;
constexpr int64_t kMaxSigned32Frames = (kSigned32Bytes - kHeaderAllowanceBytes) / kFloatBytes;

constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
constexpr int kFlac24 = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
constexpr int kOggVorbis = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
constexpr int kMp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
constexpr int kFloatAiff = SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
constexpr int kFloatAu = SF_FORMAT_AU | SF_FORMAT_FLOAT;
constexpr int kFloatCaf = SF_FORMAT_CAF | SF_FORMAT_FLOAT;
constexpr int kFloatW64 = SF_FORMAT_W64 | SF_FORMAT_FLOAT;

constexpr std::array<OutputFormat, 10> kFormats{{
    {".wav", kFloatWav, "32-bit float WAV, the samples exactly (up to 6.7 hours)",
     kMaxUnsigned32Frames},
    {".flac", kFlac24, "24-bit FLAC, lossless (peaks beyond full scale are clipped)", 0, false,
     true},
    {".ogg", kOggVorbis, "Ogg Vorbis", 0, true},
    {".oga", kOggVorbis, "Ogg Vorbis", 0, true},
    {".mp3", kMp3, "MP3", 0},
    {".aiff", kFloatAiff, "32-bit float AIFF-C (up to 3.3 hours)", kMaxSigned32Frames},
    {".aif", kFloatAiff, "32-bit float AIFF-C (up to 3.3 hours)", kMaxSigned32Frames},
    {".au", kFloatAu, "32-bit float Sun/NeXT audio (up to 6.7 hours)", kMaxUnsigned32Frames},
    {".caf", kFloatCaf, "32-bit float Core Audio Format, no length limit", 0},
    {".w64", kFloatW64, "32-bit float Sony Wave64, no length limit", 0},
}};
constexpr std::size_t kExtensionColumn = 16; // --help lines: the description starts here
constexpr std::string_view kHelpIndent = "  ";

constexpr char kPathSeparator = '/';

// Any fixed number does: a render is one stream, never chained with another.
constexpr uint32_t kOggSerial = 0x446F6F64;
constexpr std::size_t kOggSerialOffset = 14; // bytes into a page header, little-endian
constexpr std::size_t kOggSerialBytes = 4;
constexpr unsigned kBitsPerByte = 8;
constexpr long kOggReadBytes = 65536;

std::string systemError() {
    return std::strerror(errno);
}

bool pwriteAll(int fd, const unsigned char* bytes, std::size_t byteCount, off_t offset) noexcept {
    while (byteCount > 0) {
        const ssize_t written = ::pwrite(fd, bytes, byteCount, offset);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        byteCount -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

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
    return ioSeek(0, SEEK_CUR, userData);
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

sf_count_t ioWrite(const void* bytes, sf_count_t byteCount, void* userData) noexcept {
    Io& io = ioOf(userData);
    const auto* at = static_cast<const unsigned char*>(bytes);
    sf_count_t done = 0;
    while (done < byteCount) {
        const ssize_t count = ::write(io.fd, at + done, static_cast<std::size_t>(byteCount - done));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (count == 0) {
                errno = EIO; // write() made no progress and gave no reason
            }
            noteError(io);
            break;
        }
        done += count;
    }
    return done;
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

// libogg's reader state, cleared on every way out.
class OggSync {
public:
    // Both always return 0.
    OggSync() noexcept { static_cast<void>(ogg_sync_init(&m_state)); }
    ~OggSync() { static_cast<void>(ogg_sync_clear(&m_state)); }
    OggSync(const OggSync&) = delete;
    OggSync& operator=(const OggSync&) = delete;
    ogg_sync_state* get() noexcept { return &m_state; }

private:
    ogg_sync_state m_state{};
};

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

std::string replaceOpenFailure(ReplaceOpen result, const std::string& path) {
    switch (result) {
    case ReplaceOpen::Created:
        break;
    case ReplaceOpen::TargetUnusable:
        return "cannot write " + inQuotes(path) + ": " + systemError();
    case ReplaceOpen::TargetIsFolder:
        return "cannot write " + inQuotes(path) + ": it is a folder";
    case ReplaceOpen::TargetNotRegular:
        return "cannot write " + inQuotes(path) +
               ": it is a device, FIFO or socket, not a regular file";
    case ReplaceOpen::NoTempFile:
        return "cannot write in the folder of " + inQuotes(path) + ": " + systemError();
    }
    return {};
}

SoundFileOutput::~SoundFileOutput() {
    discard();
}

bool SoundFileOutput::fail(std::string reason) {
    m_error = std::move(reason);
    discard();
    return false;
}

bool SoundFileOutput::open(const std::string& path, const OutputFormat& format) {
    m_displayPath = path;
    m_format = &format;
    SF_INFO info{};
    info.samplerate = static_cast<int>(kRenderSampleRate);
    info.channels = kMonoChannels;
    info.format = format.sndfileFormat;
    if (sf_format_check(&info) == SF_FALSE) {
        return fail("this libsndfile cannot write " + std::string(format.description));
    }
    const ReplaceOpen opened = m_file.open(path, kRenderTempPrefix);
    if (opened != ReplaceOpen::Created) {
        return fail(replaceOpenFailure(opened, path));
    }

    m_io = DescriptorIo{m_file.fd(), 0};
    SF_VIRTUAL_IO io = descriptorIo();
    m_sndfile = sf_open_virtual(&io, SFM_WRITE, &info, &m_io);
    if (m_sndfile == nullptr) {
        return fail("cannot write " + inQuotes(path) + ": " + writeFailure(sf_strerror(nullptr)));
    }
    // The PEAK chunk of float WAV and AIFF holds the time of writing: without it, the same
    // samples give the same bytes. The call's result only echoes the request; a refusal shows
    // as the file's error.
    static_cast<void>(sf_command(m_sndfile, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE));
    if (sf_error(m_sndfile) != SF_ERR_NO_ERROR) {
        return fail("cannot write " + inQuotes(path) + ": " + writeFailure(sf_strerror(m_sndfile)));
    }
    // The voice is not clipped and may pass full scale; integer formats must not wrap round.
    if (sf_command(m_sndfile, SFC_SET_CLIPPING, nullptr, SF_TRUE) != SF_TRUE) {
        return fail("cannot write " + inQuotes(path) + ": libsndfile refuses to clip");
    }
    return true;
}

bool SoundFileOutput::write(std::span<const float> samples) {
    const auto count = static_cast<sf_count_t>(samples.size());
    if (sf_write_float(m_sndfile, samples.data(), count) != count || m_io.errorNumber != 0) {
        return fail("cannot write " + inQuotes(m_displayPath) + ": " +
                    writeFailure(sf_strerror(m_sndfile)));
    }
    return true;
}

bool SoundFileOutput::commit() {
    // Encoders flush their last frames here: a failed write may show only now.
    const int closeError = sf_close(std::exchange(m_sndfile, nullptr));
    if (closeError != SF_ERR_NO_ERROR || m_io.errorNumber != 0) {
        return fail("cannot write " + inQuotes(m_displayPath) + ": " +
                    writeFailure(sf_error_number(closeError)));
    }
    if (m_format->oggStream && !fixOggSerial()) {
        return false;
    }
    if (!m_file.commit()) {
        return fail("cannot write " + inQuotes(m_displayPath) + ": " + systemError());
    }
    return true;
}

std::string SoundFileOutput::writeFailure(const char* libraryReason) const {
    return m_io.errorNumber != 0 ? std::strerror(m_io.errorNumber) : libraryReason;
}

void SoundFileOutput::discard() noexcept {
    // Whatever fails here, the temporary file is dropped: the render has failed already.
    if (m_sndfile != nullptr) {
        static_cast<void>(sf_close(std::exchange(m_sndfile, nullptr)));
    }
    m_file.discard();
}

// libsndfile numbers an Ogg stream from the clock, so two renders of the same samples would
// differ. Every page gets a fixed number instead, and its checksum is set again; pages keep
// their lengths, so the file is patched in place.
bool SoundFileOutput::fixOggSerial() {
    const std::string failure = "cannot write " + inQuotes(m_displayPath) + ": ";
    if (::lseek(m_file.fd(), 0, SEEK_SET) != 0) {
        return fail(failure + systemError());
    }
    OggSync sync;
    off_t pageOffset = 0;
    while (true) {
        ogg_page page{};
        int pageFound = 0;
        while ((pageFound = ogg_sync_pageout(sync.get(), &page)) == 1) {
            for (std::size_t i = 0; i < kOggSerialBytes; ++i) {
                page.header[kOggSerialOffset + i] =
                    static_cast<unsigned char>(kOggSerial >> (kBitsPerByte * i));
            }
            ogg_page_checksum_set(&page);
            if (!pwriteAll(m_file.fd(), page.header, static_cast<std::size_t>(page.header_len),
                           pageOffset)) {
                return fail(failure + systemError());
            }
            pageOffset += page.header_len + page.body_len;
        }
        if (pageFound < 0) {
            return fail(failure + "libsndfile wrote Ogg pages that do not read back");
        }
        char* buffer = ogg_sync_buffer(sync.get(), kOggReadBytes);
        if (buffer == nullptr) {
            return fail(failure + "out of memory");
        }
        ssize_t readBytes = 0;
        do {
            readBytes = ::read(m_file.fd(), buffer, kOggReadBytes);
        } while (readBytes < 0 && errno == EINTR);
        if (readBytes < 0) {
            return fail(failure + systemError());
        }
        if (readBytes == 0) {
            break;
        }
        if (ogg_sync_wrote(sync.get(), static_cast<long>(readBytes)) != 0) {
            return fail(failure + "libogg lost track of the file");
        }
    }
    struct stat written {};
    if (::fstat(m_file.fd(), &written) != 0) {
        return fail(failure + systemError());
    }
    if (written.st_size != pageOffset) {
        return fail(failure + "libsndfile wrote bytes outside Ogg pages");
    }
    return true;
}

} // namespace doodle
