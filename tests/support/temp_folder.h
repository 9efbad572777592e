// The one temporary folder of the tests: fresh for each test, the current folder while it lives (so that
// attachment paths may be relative and name files alike in the native and the Win32 build), removed with
// what it holds. It lies in the system's temporary folder, or, for helpers started on the Linux side (the
// Python SMTP peers), in Linux's /tmp, which Wine shows as Z:\tmp.
#pragma once

#include "core/mail/byte_file.h"

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
    enum class Place { System, Linux };

    explicit TempFolder(Place place = Place::System) : previous_(std::filesystem::current_path()) {
        static int serial = 0;
        path_ =
            Base(place) / ("tarvel-test-" + std::to_string(TARVEL_TEST_PID) + "-" + std::to_string(++serial));
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored); // left by an earlier process of the same number
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
    // The folder as the program names folders: with its trailing separator.
    std::string Folder() const { return (path_ / "").string(); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    // The folder's name on the Linux side.
    std::string Unix() const {
        std::string path = path_.string();
#ifdef _WIN32
        if (path.size() > 1 && path[1] == ':') path.erase(0, 2);
        for (char& c : path)
            if (c == '\\') c = '/';
#endif
        return path;
    }

    // Writes `bytes` to `name` (UTF-8, relative to the current folder, or a full path), creating the
    // folders before it. On POSIX systems a "\" is an ordinary character, so "sub\x.bin" is then one file.
    static bool PutFile(const std::string& name, std::string_view bytes) {
        const std::filesystem::path parent =
            std::filesystem::path(std::u8string(name.begin(), name.end())).parent_path();
        std::error_code ignored;
        if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
        const ByteFile file = CreateBytes(name);
        return file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
               std::fflush(file.get()) == 0;
    }
    static std::string ReadFile(const std::string& name) {
        const ByteFile file = OpenBytes(name);
        std::string bytes;
        char chunk[4096];
        for (std::size_t n; file && (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;)
            bytes.append(chunk, n);
        return bytes;
    }

private:
    static std::filesystem::path Base([[maybe_unused]] Place place) {
#ifdef _WIN32
        // Wine's Z: drive is the Linux root.
        std::error_code error;
        if (place == Place::Linux && std::filesystem::is_directory("Z:\\tmp", error)) return "Z:\\tmp";
#endif
        return std::filesystem::temp_directory_path();
    }

    std::filesystem::path previous_;
    std::filesystem::path path_;
};

} // namespace tarvel::test
