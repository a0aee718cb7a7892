#include "TempFolderTest.h"
#include "files/RecordingFiles.h"
#include "program/Exports.h"
#include "recording/RecordingFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace doodle {
namespace {

namespace fs = std::filesystem;
using test::ActingAs;
using test::kNobody;
using namespace std::string_literals; // the cases hold zero bytes

// Larger than the reader's and writer's 1 MiB pieces, so lines cross piece boundaries.
constexpr std::size_t kLongLineBytes = 3'000'001;

using RecordingFileTest = test::TempFolderTest;

// A save as the desktop program stores it: the chosen name with its extension, the lines.
bool saveRecordingFile(const std::string& chosen, const Recording& recording) {
    return replaceFileWith(fileNameWithExtension(chosen, kRecordingExtension),
                           recordingFileBytes(recording), ".DoodleChorus-");
}

using Lines = std::vector<std::string>;

const std::vector<std::pair<std::string, Lines>> kSplitCases{
    {"120;45;0;1532\r\n120;45;1;1610\r\n", {"120;45;0;1532", "120;45;1;1610"}},
    {"a\nb\n", {"a", "b"}},
    {"a\rb\r", {"a", "b"}},
    {"a\0b\0"s, {"a", "b"}},
    {"a\r\nb", {"a", "b"}},
    {"a\r\n\r\n", {"a", ""}},
    {"\r\n", {""}},
    {"", {}},
    {"a\n\rb", {"a", "", "b"}},
    {"a\r\0b"s, {"a", "", "b"}},
    {"\0\0"s, {"", ""}},
    {"\xff\xfe;\x80 \t", {"\xff\xfe;\x80 \t"}}};

TEST(RecordingFileSplit, EndsLinesAtCrLfCrLfAndZeroBytesWhereverThePiecesAreCut) {
    for (const auto& [bytes, lines] : kSplitCases) {
        const Recording split = splitRecordingLines(bytes);
        EXPECT_EQ(split.lineTexts(), lines) << testing::PrintToString(bytes);
        // Every line's event is read from its text as it was split off.
        for (std::size_t i = 0; i < split.size(); ++i) {
            EXPECT_EQ(split.event(i), parseGestureEvent(lines[i])) << i;
        }
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            Recording pieces;
            LineSplitter splitter(pieces);
            splitter.feed(std::string_view(bytes).substr(0, cut));
            splitter.feed({});
            splitter.feed(std::string_view(bytes).substr(cut));
            splitter.finish();
            EXPECT_EQ(pieces.lineTexts(), lines)
                << testing::PrintToString(bytes) << " cut at " << cut;
        }
    }
}

// A recording handed to another copy of the program in pieces of any size is the same
// recording, lines and events, without its lines being read again; parts that disagree are
// refused.
TEST(RecordingAssemblyTest, PiecesOfAnySizeGiveTheSameRecordingAndDisagreeingPartsNone) {
    const Recording original = splitRecordingLines("120;45;0;1532\r\n-3.5;nan;1;x\r\n\r\n9;9;0;9");
    const std::string_view text = original.storedText();
    const std::span<const RecordingPoint> points = original.storedPoints();
    std::vector<uint8_t> released;
    for (std::size_t i = 0; i < original.size(); ++i) {
        released.push_back(original.event(i).released ? 1 : 0);
    }
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{1000}}) {
        RecordingAssembly assembly;
        ASSERT_TRUE(assembly.reserve(text.size(), original.size()));
        for (std::size_t at = 0; at < text.size(); at += piece) {
            ASSERT_TRUE(assembly.addText(text.substr(at, piece)));
        }
        for (std::size_t at = 0; at < points.size(); at += piece) {
            ASSERT_TRUE(
                assembly.addPoints(points.subspan(at, std::min(piece, points.size() - at))));
            ASSERT_TRUE(assembly.addReleased(
                std::span(released).subspan(at, std::min(piece, released.size() - at))));
        }
        const std::optional<Recording> assembled = assembly.finish();
        ASSERT_TRUE(assembled) << piece;
        EXPECT_EQ(assembled->lineTexts(), original.lineTexts());
        for (std::size_t i = 0; i < original.size(); ++i) {
            EXPECT_EQ(assembled->event(i).released, original.event(i).released) << i;
            EXPECT_EQ(assembled->event(i).x, original.event(i).x) << i;
        }
    }
    // A part missing, one too long, or a text whose lines are not as many as the points.
    RecordingAssembly assembly;
    ASSERT_TRUE(assembly.reserve(text.size(), original.size()));
    ASSERT_TRUE(assembly.addText(text));
    EXPECT_FALSE(assembly.addText("x"));
    EXPECT_FALSE(assembly.finish()) << "no points came";
    ASSERT_TRUE(assembly.reserve(4, 2));
    ASSERT_TRUE(assembly.addText("a\nbc"));
    ASSERT_TRUE(assembly.addPoints(points.first(2)));
    ASSERT_TRUE(assembly.addReleased(std::span(released).first(2)));
    EXPECT_FALSE(assembly.finish()) << "one line end for two points";
}

TEST(RecordingFileWriterTest, WritesTheFileInPiecesOfAnySizeAndLeavesLaterLinesOut) {
    Recording recording{"120;45;0;1532", "", "x;y"};
    const std::string expected = "120;45;0;1532\r\n\r\nx;y\r\n";
    EXPECT_EQ(recordingFileBytes(recording),
              std::vector<uint8_t>(expected.begin(), expected.end()));
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{2}, std::size_t{14}, std::size_t{15}, std::size_t{1000}}) {
        RecordingFileWriter writer(recording);
        ASSERT_EQ(writer.size(), expected.size());
        std::string written;
        std::vector<uint8_t> buffer(piece);
        for (std::size_t count = writer.write(buffer); count > 0; count = writer.write(buffer)) {
            ASSERT_LE(count, piece);
            written.append(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
            if (written.size() == 5) {
                recording.append("appended after the writer was made");
            }
        }
        EXPECT_EQ(written, expected) << piece;
        recording = Recording{"120;45;0;1532", "", "x;y"};
    }
    const Recording none;
    RecordingFileWriter empty(none);
    std::vector<uint8_t> buffer(4);
    EXPECT_EQ(empty.size(), 0U);
    EXPECT_EQ(empty.write(buffer), 0U);
}

TEST(RecordingFileName, AppendsSavUnlessTheNameEndsInItInAnyCase) {
    for (const std::string_view kept : {"tune.SAV", "tune.Sav", ".sav", "/a/b.sAv"}) {
        EXPECT_EQ(fileNameWithExtension(kept, kRecordingExtension), kept);
    }
    for (const std::string_view chosen : {"tune", "tune.txt", "a", "sav", "/x.sav/t", "t.sav "}) {
        EXPECT_EQ(fileNameWithExtension(chosen, kRecordingExtension), std::string(chosen) + ".sav");
    }
}

TEST_F(RecordingFileTest, SavesCrLfLinesThatOpenAsTheSameRecording) {
    const Recording click{"120;45;0;1532", "120;45;1;1610"};
    ASSERT_TRUE(saveRecordingFile((m_folder / "click").string(), click));
    EXPECT_EQ(readBytes(m_folder / "click.sav"), "120;45;0;1532\r\n120;45;1;1610\r\n");
    EXPECT_EQ(openRecordingFile((m_folder / "click.sav").string()), click);

    const Recording longLines{std::string(kLongLineBytes, '7'), "", "1;2;0;3"};
    ASSERT_TRUE(saveRecordingFile((m_folder / "long.sav").string(), longLines));
    EXPECT_EQ(openRecordingFile((m_folder / "long.sav").string()), longLines);
    EXPECT_EQ(entries(m_folder), (std::vector<std::string>{"click.sav", "long.sav"}));
}

TEST_F(RecordingFileTest, ReplacesAnExistingFileKeepingItsPermissions) {
    const fs::path path = m_folder / "tune.sav";
    writeBytes(path, "old;old;old;old\r\nmore\r\n");
    ASSERT_EQ(::chmod(path.c_str(), S_IRUSR | S_IWUSR | S_IRGRP), 0);
    ASSERT_TRUE(saveRecordingFile(path.string(), Recording{"1;2;0;3"}));
    EXPECT_EQ(readBytes(path), "1;2;0;3\r\n");
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // Through a symbolic link the file it points to is replaced; the link stays a link.
    fs::create_symlink("tune.sav", m_folder / "link.sav");
    ASSERT_TRUE(saveRecordingFile((m_folder / "link").string(), Recording{"4;5;1;6"}));
    EXPECT_TRUE(fs::is_symlink(m_folder / "link.sav"));
    EXPECT_EQ(readBytes(path), "4;5;1;6\r\n");

    // A file with two names stays one file: both show what was saved.
    fs::create_hard_link(path, m_folder / "other.sav");
    ASSERT_TRUE(saveRecordingFile(path.string(), Recording{"7;8;0;9"}));
    EXPECT_EQ(readBytes(m_folder / "other.sav"), "7;8;0;9\r\n");
    EXPECT_EQ(fs::hard_link_count(path), 2U);
    EXPECT_EQ(entries(m_folder), (std::vector<std::string>{"link.sav", "other.sav", "tune.sav"}));
}

// Acted as nobody where the tests run as root, who may write any file.
TEST_F(RecordingFileTest, LeavesAFileWithoutWritePermissionAlone) {
    const fs::path path = m_folder / "kept.sav";
    writeBytes(path, "kept\r\n");
    ASSERT_EQ(::chmod(path.c_str(), S_IRUSR), 0);
    std::optional<ActingAs> nobody;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(m_folder.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
        nobody.emplace(kNobody, kNobody);
    }
    const bool saved = saveRecordingFile(path.string(), Recording{"1;2;0;3"});
    nobody.reset();
    EXPECT_FALSE(saved);
    EXPECT_EQ(readBytes(path), "kept\r\n");
    EXPECT_EQ(entries(m_folder), std::vector<std::string>{"kept.sav"});
}

// Root may write anywhere, so each failure here is one that permissions do not decide.
TEST_F(RecordingFileTest, ReportsAFailedSaveAndKeepsTheOldFile) {
    const Recording lines{"1;2;0;3"};
    EXPECT_FALSE(saveRecordingFile((m_folder / "missing" / "tune").string(), lines));
    EXPECT_FALSE(saveRecordingFile("/proc/self/doodle-test", lines));

    // A folder under the name: the new file cannot take its place.
    fs::create_directory(m_folder / "taken.sav");
    EXPECT_FALSE(saveRecordingFile((m_folder / "taken").string(), lines));
    EXPECT_TRUE(fs::is_directory(m_folder / "taken.sav"));

    // A write that fails half-way, as on a full disk: the file size limit cuts it off.
    const std::string old = "old;old;old;old\r\n";
    writeBytes(m_folder / "full.sav", old);
    const Recording big(Lines(kLongLineBytes / old.size(), "123;45;0;123456"));
    rlimit previousLimit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previousLimit), 0);
    rlimit smallLimit = previousLimit;
    smallLimit.rlim_cur = kLongLineBytes / 2;
    const auto saveUnderLimit = [&](const fs::path& target) {
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &smallLimit), 0);
        const bool saved = saveRecordingFile(target.string(), big);
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &previousLimit), 0);
        std::signal(SIGXFSZ, previousHandler);
        return saved;
    };
    EXPECT_FALSE(saveUnderLimit(m_folder / "full.sav"));
    EXPECT_EQ(readBytes(m_folder / "full.sav"), old);
    // A file with two names is rewritten in place, and only once the new bytes are complete.
    fs::create_hard_link(m_folder / "full.sav", m_folder / "twin.sav");
    EXPECT_FALSE(saveUnderLimit(m_folder / "full.sav"));
    EXPECT_EQ(readBytes(m_folder / "full.sav"), old);
    EXPECT_EQ(readBytes(m_folder / "twin.sav"), old);

    // Neither the refused saves nor the failed ones left a file behind.
    EXPECT_EQ(entries(m_folder), (std::vector<std::string>{"full.sav", "taken.sav", "twin.sav"}));
}

TEST_F(RecordingFileTest, OpensAnyBytesButNotAMissingFileAFolderOrAFifo) {
    constexpr std::size_t kByteValues = 256;
    std::string bytes(3 * kByteValues, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i % kByteValues);
    }
    writeBytes(m_folder / "binary", bytes);
    const std::optional<Recording> lines = openRecordingFile((m_folder / "binary").string());
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(*lines, splitRecordingLines(bytes));
    // Three line ends (NUL, LF, CR) per round of 256 bytes, and an empty line before the
    // first NUL.
    EXPECT_EQ(lines->size(), 1U + 3U * 3U);

    writeBytes(m_folder / "empty.sav", "");
    EXPECT_EQ(openRecordingFile((m_folder / "empty.sav").string()), Recording{});
    EXPECT_EQ(openRecordingFile((m_folder / "missing.sav").string()), std::nullopt);
    EXPECT_EQ(openRecordingFile(m_folder.string()), std::nullopt);
    // A FIFO with no writer would block the program forever; a device would never end.
    ASSERT_EQ(::mkfifo((m_folder / "pipe").c_str(), S_IRUSR | S_IWUSR), 0);
    EXPECT_EQ(openRecordingFile((m_folder / "pipe").string()), std::nullopt);
    EXPECT_EQ(openRecordingFile("/dev/zero"), std::nullopt);
    // Each says why.
    const OpenedRecording missing = readRecordingFile((m_folder / "missing.sav").string());
    EXPECT_EQ(std::pair(missing.problem, missing.errorNumber),
              std::pair(OpenProblem::CannotOpen, ENOENT));
    EXPECT_EQ(readRecordingFile(m_folder.string()).problem, OpenProblem::IsFolder);
    EXPECT_EQ(readRecordingFile((m_folder / "pipe").string()).problem, OpenProblem::NotRegularFile);
    EXPECT_EQ(readRecordingFile("/dev/zero").problem, OpenProblem::NotRegularFile);
}

// Limits stop a reader at the first byte or line past them, from a file (refused unread when
// larger) or a stream, which may then never end; a recording just within them is read whole.
TEST_F(RecordingFileTest, ReadsUpToItsLimitsAndNoFurther) {
    const std::string tenLines = "1;1;0;1\n1;1;0;2\n1;1;0;3\n1;1;0;4\n1;1;0;5\n"
                                 "1;1;0;6\n1;1;0;7\n1;1;0;8\n1;1;0;9\n1;1;0;10";
    const std::size_t bytes = tenLines.size();
    const fs::path path = m_folder / "ten.sav";
    writeBytes(path, tenLines);
    auto fromStream = [&](const ReadLimits& limits) {
        int ends[2] = {-1, -1};
        EXPECT_EQ(::pipe(ends), 0);
        EXPECT_EQ(::write(ends[1], tenLines.data(), tenLines.size()),
                  static_cast<ssize_t>(tenLines.size()));
        ::close(ends[1]);
        OpenedRecording opened = readRecordingStream(ends[0], limits);
        ::close(ends[0]);
        return opened;
    };
    struct Case {
        ReadLimits limits;
        OpenProblem problem;
    };
    for (const Case& c :
         {Case{{bytes, 10}, OpenProblem::None}, Case{{bytes - 1, 10}, OpenProblem::TooManyBytes},
          Case{{bytes, 9}, OpenProblem::TooManyLines}}) {
        for (const OpenedRecording& opened :
             {readRecordingFile(path.string(), c.limits), fromStream(c.limits)}) {
            EXPECT_EQ(opened.problem, c.problem) << c.limits.maxBytes << " " << c.limits.maxLines;
            EXPECT_EQ(opened.recording.has_value(), c.problem == OpenProblem::None);
            if (opened.recording) {
                EXPECT_EQ(*opened.recording, splitRecordingLines(tenLines));
            }
        }
    }
}

} // namespace
} // namespace doodle
