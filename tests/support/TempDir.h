// Whole-file helpers in binary mode, and a fresh directory per test, under a random name,
// removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace corvane::tests::support {

inline void Put(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The whole file; empty when it cannot be read.
inline std::string Get(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempDirTest : public ::testing::Test {
protected:
    TempDirTest() { std::filesystem::create_directories(dir_); }
    ~TempDirTest() override { std::filesystem::remove_all(dir_, ignored_); }

    std::string PathOf(const char* name) const { return (dir_ / name).string(); }

    std::error_code ignored_;
    const std::filesystem::path dir_ = std::filesystem::temp_directory_path() /
                                       ("corvane-test-" + std::to_string(std::random_device()()));
};

} // namespace corvane::tests::support
