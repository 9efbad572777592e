// A fresh folder for one test that is also the current folder while the test runs, so attachment
// paths can be relative and name files the same way in the native and the Win32 build.
#pragma once

#include "mail/byte_file.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define TARVEL_TEST_PID _getpid()
#else
#include <unistd.h>
#define TARVEL_TEST_PID getpid()
#endif

namespace tarvel::test {

class TempFolder {
public:
    TempFolder() : previous_(std::filesystem::current_path()) {
        static int serial = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("tarvel-mail-" + std::to_string(TARVEL_TEST_PID) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(path_);
        std::filesystem::current_path(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // Writes `bytes` to `name` (relative to this folder), creating the folders before it. On POSIX
    // systems a "\" is an ordinary character, so "sub\x.bin" is then one file in this folder.
    static bool PutFile(const std::string& name, std::string_view bytes) {
        const std::filesystem::path parent = std::filesystem::path(name).parent_path();
        std::error_code ignored;
        if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
        const ByteFile file(std::fopen(name.c_str(), "wb"));
        return file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
               std::fflush(file.get()) == 0;
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

} // namespace tarvel::test
