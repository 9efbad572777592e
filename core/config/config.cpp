// zembrix.cfg: four fixed lines (server:port, address, entry:password, TRUE/FALSE), then name and
// address lines in pairs, every line ended by CR LF, in the system's ANSI code page or (for text beyond it)
// in UTF-8 behind the byte-order mark.
#include "core/config/config.h"

#include <cerrno>
#include <cstdio>

#include "core/config/atomic_file.h"
#include "core/config/file_text.h"
#include "core/mail/byte_file.h"
#include "core/text/utf8.h"

namespace tarvel {
namespace {

constexpr char CtrlZ = '\x1A';

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

// Reads lines up to a CR LF, a lone CR or a lone LF: a file saved by a Unix editor has LF line ends,
// and the program never writes a line break into a value. Past the end every line is empty.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }

    std::string Next() {
        if (AtEnd()) return {};
        const std::size_t end = text_.find_first_of("\r\n", pos_);
        const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        std::string line(text_.substr(pos_, stop - pos_));
        pos_ = stop;
        if (pos_ < text_.size()) {
            const bool cr = text_[pos_] == '\r';
            ++pos_;
            if (cr && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
        }
        return line;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

std::string ReadWholeFile(std::FILE* f, const std::string& path) {
    // A settings file of this size is no settings file: refuse it before it is held in memory.
    if (SizeOfOpenFile(f) > static_cast<std::int64_t>(MaxConfigFileBytes))
        throw ConfigError("The configuration file " + Quoted(path) +
                          " is larger than 1 MB and was not read; it is not a file this program wrote.");
    std::string content;
    char buffer[4096];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, f);
        content.append(buffer, got);
        if (got < sizeof buffer) break;
        // The file may grow while it is read.
        if (content.size() > MaxConfigFileBytes)
            throw ConfigError("The configuration file " + Quoted(path) +
                              " is larger than 1 MB and was not read; it is not a file this program wrote.");
    }
    if (std::ferror(f)) {
        const int error = errno;
        throw ConfigError("Cannot read the configuration file " + Quoted(path) + " (" + ErrnoText(error) +
                          ").");
    }
    return content;
}

std::string FileText(const Settings& s) {
    std::string text;
    // Text that is not UTF-8 came from the code page (an ANSI window, say), and goes back to it unchanged.
    auto line = [&text](std::string_view value) {
        text += Utf8OrCodePage(value);
        text += "\r\n";
    };
    line(s.SMTPServer + ":" + s.SMTPPort);
    line(s.EmailAddress);
    line(s.DialEntry + ":" + s.DialPassword);
    line(s.UseDialup ? "TRUE" : "FALSE");
    for (std::size_t i = 0; i < s.NameList.size(); ++i) {
        line(s.NameList[i]);
        line(s.AddressList[i]);
    }
    return text;
}

std::optional<StorageProblem> Problem(std::string_view field, const std::string& subject,
                                      std::string_view value, bool allowColon) {
    const char* what = nullptr;
    if (value.find_first_of("\r\n") != std::string_view::npos)
        what = "a line break";
    else if (value.find(CtrlZ) != std::string_view::npos)
        what = "the character Ctrl-Z";
    else if (!allowColon && value.find(':') != std::string_view::npos)
        what = "a colon";

    if (!what) return std::nullopt;
    return StorageProblem{std::string(field), subject + " must not contain " + what + "."};
}

} // namespace

std::string ExeFolderOf(std::string_view exePath) {
    const std::size_t last = exePath.find_last_of("\\:");
    return last == std::string_view::npos ? std::string() : std::string(exePath.substr(0, last + 1));
}

std::string ConfigPath(std::string_view exeFolder) {
    return std::string(exeFolder) + ConfigFileName;
}

void LoadConfiguration(Settings& settings, const std::string& path) {
    errno = 0;
    ByteFile f = OpenBytes(path);
    if (!f) {
        const int error = errno;
        if (error == ENOENT) {
            settings.FirstRun = true;
            return;
        }
        throw ConfigError("Cannot open the configuration file " + Quoted(path) + " (" + ErrnoText(error) +
                          ").");
    }
    std::string content = TextOfFile(ReadWholeFile(f.get(), path), path);
    f.reset();

    // A Ctrl-Z ends the line and the file: nothing after it can be read.
    if (const std::size_t eof = content.find(CtrlZ); eof != std::string::npos) content.resize(eof);

    Settings loaded = settings;
    LineReader reader(content);

    std::string line = reader.Next();
    if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
        loaded.SMTPServer = line.substr(0, colon);
        loaded.SMTPPort = line.substr(colon + 1);
    } else {
        loaded.SMTPServer = line;
    }
    loaded.EmailAddress = reader.Next();
    line = reader.Next();
    if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
        loaded.DialEntry = line.substr(0, colon);
        loaded.DialPassword = line.substr(colon + 1);
    } else {
        loaded.DialEntry = line;
        loaded.DialPassword.clear();
    }
    loaded.UseDialup = reader.Next() == "TRUE";
    loaded.FirstRun = false;
    loaded.NameList.clear();
    loaded.AddressList.clear();
    while (!reader.AtEnd()) {
        loaded.NameList.push_back(reader.Next());
        loaded.AddressList.push_back(reader.Next());
    }
    settings = std::move(loaded);
}

void SaveConfiguration(const Settings& settings, const std::string& path) {
    if (const auto problem = CheckStorable(settings))
        throw ConfigError("The configuration file " + Quoted(path) + " was not saved: " + problem->message);

    ReplaceFileAtomically(path, FileOfText(FileText(settings)));
}

std::optional<StorageProblem> CheckStorableText(std::string_view fieldName, std::string_view value,
                                                bool allowColon) {
    return Problem(fieldName, "The " + std::string(fieldName), value, allowColon);
}

std::optional<StorageProblem> CheckStorable(const Settings& s) {
    struct Field {
        const char* name;
        const std::string& value;
        bool allowColon;
    };
    // The colon splits lines 1 and 3 at its first occurrence, so only the part before it is refused one.
    const Field fields[] = {{FieldSMTPServer, s.SMTPServer, false},
                            {FieldSMTPPort, s.SMTPPort, true},
                            {FieldEmailAddress, s.EmailAddress, true},
                            {FieldDialEntry, s.DialEntry, false},
                            {FieldDialPassword, s.DialPassword, true}};
    for (const Field& field : fields)
        if (auto problem = CheckStorableText(field.name, field.value, field.allowColon)) return problem;

    if (s.NameList.size() != s.AddressList.size())
        return StorageProblem{FieldName, "The name list and the address list differ in length."};
    for (std::size_t i = 0; i < s.NameList.size(); ++i) {
        const std::string entry = " of entry " + std::to_string(i + 1) + " in the name list";
        if (auto problem = Problem(FieldName, "The name" + entry, s.NameList[i], true)) return problem;
        if (auto problem = Problem(FieldAddress, "The address" + entry, s.AddressList[i], true))
            return problem;
    }
    return std::nullopt;
}

} // namespace tarvel
