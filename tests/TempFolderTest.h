#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace doodle::test {

// The effective ids, and so the file permissions, of another user until destroyed.
class ActingAs {
public:
    ActingAs(uid_t uid, gid_t gid) {
        EXPECT_EQ(::setegid(gid), 0);
        EXPECT_EQ(::seteuid(uid), 0);
    }
    ~ActingAs() {
        EXPECT_EQ(::seteuid(0), 0);
        EXPECT_EQ(::setegid(0), 0);
    }
    ActingAs(const ActingAs&) = delete;
    ActingAs& operator=(const ActingAs&) = delete;
};

// The user that permission cases act as when the tests run as root, who may write any file.
constexpr uid_t kNobody = 65534; // user, and nogroup

// A fresh folder per test, removed with everything in it, and ways to look into it.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "doodlechorus-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    static std::string readBytes(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void writeBytes(const std::filesystem::path& path, std::string_view bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::ssize(bytes));
    }
    // Every name in a folder, sorted: shows that no temporary file was left behind.
    static std::vector<std::string> entries(const std::filesystem::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::ranges::sort(names);
        return names;
    }

    std::filesystem::path m_folder{};
};

} // namespace doodle::test
