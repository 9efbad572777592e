// Shared pieces of the fuzz targets: the record-separated input format, a scratch folder of the
// process's own, a connection that keeps everything the session puts on the wire, and the checks
// that abort with a readable message (libFuzzer then saves the input that broke them).
#pragma once

#include "core/smtp/smtp_connection.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace tarvel::fuzz {

// Fields of an input are separated by this byte, so that corpus inputs stay readable files.
inline constexpr char Separator = '\x1e';

inline std::vector<std::string_view> Fields(std::string_view data) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t end = data.find(Separator);
        fields.push_back(data.substr(0, end));
        if (end == std::string_view::npos) return fields;
        data.remove_prefix(end + 1);
    }
}

[[noreturn]] inline void Fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "property broken: %s\n", what);
    if (!detail.empty()) {
        std::fprintf(stderr, "  detail (%zu bytes): \"", detail.size());
        for (const char c : detail.substr(0, 400)) {
            const auto b = static_cast<unsigned char>(c);
            if (b >= 0x20 && b < 0x7F && c != '"' && c != '\\')
                std::fputc(c, stderr);
            else
                std::fprintf(stderr, "\\x%02x", b);
        }
        std::fprintf(stderr, "\"\n");
    }
    std::abort();
}

inline void Check(bool holds, const char* what, std::string_view detail = {}) {
    if (!holds) Fail(what, detail);
}

// Every CR is followed by LF and every LF follows a CR.
inline bool OnlyCrLfPairs(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    }
    return true;
}

inline bool HasControl(std::string_view text, bool allowTabAndLineEnds = false) {
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (allowTabAndLineEnds && (c == '\t' || c == '\r' || c == '\n')) continue;
        if (b < 0x20 || b == 0x7F) return true;
    }
    return false;
}

// Removes the extra "." that the leading-dot rule put in front of lines.
inline std::string Unstuffed(std::string_view wire) {
    std::string out;
    out.reserve(wire.size());
    bool lineStart = true;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (lineStart && wire[i] == '.') {
            lineStart = false;
            continue;
        }
        out += wire[i];
        lineStart = wire[i] == '\n' && i > 0 && wire[i - 1] == '\r';
    }
    return out;
}

// A folder of this process's own under the system's temporary folder, removed at exit.
class ScratchFolder {
public:
    ScratchFolder() {
        path_ = std::filesystem::temp_directory_path() / ("tarvel-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }
    bool Put(const std::string& name, std::string_view bytes) const {
        std::FILE* file = std::fopen(File(name).c_str(), "wb");
        if (file == nullptr) return false;
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        return std::fclose(file) == 0 && ok;
    }

private:
    std::filesystem::path path_;
};

// The socket component as the session sees it, in memory: commands and message text are kept in
// the order in which they went out.
class WireConnection : public SmtpConnection {
public:
    struct Event {
        enum Kind { Command, Text, Disconnect } kind;
        std::string bytes;
    };
    std::vector<Event> events;
    std::string text; // all message text, as written
    std::string hostName = "fuzzhost";
    bool failCommands = false;
    std::function<void(const std::string&)> onError;
    std::function<void(const Event&)> onEvent; // sees each event as it happens

    void SetAddress(const std::string&) override {}
    void SetPort(const std::string&) override {}
    void Connect() override {}
    void SendCommand(std::string_view command) override {
        Record({Event::Command, std::string(command)});
        if (failCommands && onError) onError("Connection reset by peer");
    }
    void Disconnect() override { Record({Event::Disconnect, {}}); }
    std::string GetLocalHostName() override { return hostName; }
    SendResult RawSend(const char* data, std::size_t length) override {
        text.append(data, length);
        Record({Event::Text, std::string(data, length)});
        return {static_cast<long>(length), 0};
    }
    bool WaitWritable(int) override { return true; }

private:
    void Record(Event event) {
        if (onEvent) onEvent(event);
        events.push_back(std::move(event));
    }
};

} // namespace tarvel::fuzz
