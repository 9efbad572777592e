// Fuzz target: a hostile server's transcript against the SMTP session, with local failures and
// cancels in between. Input: fields separated by 0x1e, each led by one letter: "R" a recipient and
// "N" the sender (set before the session starts), "S" a chunk from the server, "A" a local failure
// ("TimeOut"), "C" a cancel, "F" every later command send fails.
// Properties: commands are single CR LF lines; no message text before a 354 to "DATA", and exactly
// the stuffed message when it goes out; an acceptance only with a final 250 line received after the
// end-of-data line; after a failure or cancel, no text and no command but "QUIT"; the bytes held
// for an unfinished reply stay bounded, and reply assembly hands out every byte once and looks at
// each about once.
#include "fuzz_support.h"

#include "core/mail/dot_stuffing.h"
#include "core/mail/field_check.h"
#include "core/smtp/smtp_session.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace tarvel;
using namespace tarvel::fuzz;

namespace {

constexpr std::string_view EndOfData = "\r\n.\r\n";

// The message text as the writers must put it on the wire, end-of-data line included.
std::string StuffedMessage(const MailMessage& message) {
    struct Output : MessageOutput {
        std::string bytes;
        void WriteLine(std::string_view piece) override { AppendDotStuffed(bytes, piece); }
        void WriteBlock(std::string_view text) override {
            AppendDotStuffed(bytes, text);
            bytes += "\r\n";
        }
    } output;
    std::atomic<bool> aborted{false};
    WriteMessage(message, output, aborted);
    return output.bytes + std::string(EndOfData);
}

// A line of `server` that begins at or after `from` with `code` followed by one of `after`.
bool HasLine(std::string_view server, std::size_t from, std::string_view code, std::string_view after) {
    for (std::size_t i = server.find(code, from); i != std::string_view::npos; i = server.find(code, i + 1)) {
        const bool lineStart = i == 0 || server[i - 1] == '\n';
        const std::size_t next = i + code.size();
        if (lineStart && next < server.size() && after.find(server[next]) != std::string_view::npos)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> fields = Fields({reinterpret_cast<const char*>(data), size});

    WireConnection connection;
    MessageList messages(1);
    SendSignals state;
    SmtpSession session(connection, messages, state);
    MailMessage& message = messages.front();
    message.Sender = "me@example.org";
    message.ToHeader = "Ann <ann@example.com>";
    message.Subject = "Hello";
    message.Body = "Hi,\r\n.\r\n..two\r\n.\r\nbye\r\n";
    for (std::string_view field : fields) {
        if (field.starts_with('R')) message.Recipients.emplace_back(field.substr(1));
        if (field.starts_with('N')) message.Sender = field.substr(1);
    }
    // The stamp the session will give the record, fixed so that the expected text can hold it.
    session.SetStampSource([] { return StampInputs{}; });
    StampMessage(message, StampInputs{});
    const std::string expected = StuffedMessage(message);

    std::string server;                            // every byte the server has sent so far
    std::size_t chunkStart = 0;                    // where the chunk being handled begins in it
    std::size_t dataCommandAt = std::string::npos; // start of the chunk during which "DATA" went out
    std::size_t endOfDataAt = std::string::npos;   // server bytes received when the end-of-data went out
    bool stopped = false;                          // a local failure or a cancel has happened
    bool okBeforeStop = false;

    // An acceptance stays an acceptance when a later step fails (a QUIT that cannot be sent, say).
    const auto stop = [&] {
        if (message.Outcome.Accepted()) okBeforeStop = true;
        stopped = true;
    };
    // As the send flow does: a failure reported while the session runs is handled after it returns.
    std::vector<std::string> failures;
    connection.onError = [&](const std::string& text) { failures.push_back(text); };
    const auto handleFailures = [&] {
        while (!failures.empty()) {
            const std::string text = failures.front();
            failures.erase(failures.begin());
            stop();
            session.Abort(text);
        }
    };
    connection.onEvent = [&](const WireConnection::Event& event) {
        using Kind = WireConnection::Event::Kind;
        if (event.kind == Kind::Command) {
            const std::string_view line = event.bytes;
            Check(line.ends_with("\r\n") && line.find_first_of("\r\n") == line.size() - 2,
                  "a command is one CR LF line", line);
            if (stopped) Check(line == "QUIT\r\n", "after a failure or cancel only QUIT is sent", line);
            if (line == "DATA\r\n") dataCommandAt = chunkStart;
        } else if (event.kind == Kind::Text) {
            Check(!stopped, "no message text after a failure or cancel", event.bytes);
            Check(dataCommandAt != std::string::npos && HasLine(server, dataCommandAt, "354", " -\r"),
                  "no message text before a 354 to DATA", server);
            Check(expected.starts_with(connection.text), "the text on the wire is the stuffed message",
                  connection.text);
            if (connection.text == expected) endOfDataAt = server.size();
        }
    };

    const bool started = session.Start("mx.example.org", "25");
    handleFailures();
    if (!UnsendableFieldText(message).empty() || message.Recipients.empty()) {
        // Refused before anything went out (no recipient: refused after the greeting at the latest).
        if (!started) Check(connection.events.empty(), "a refused record sends nothing");
    }
    if (!started) {
        Check(message.Outcome.kind == SendOutcome::Kind::Failed && !message.Outcome.text.empty(),
              "a send that ends at once says why");
        return 0;
    }

    // The same chunks through an assembler of their own: every byte comes out in exactly one reply,
    // and each is looked at about once, however the server cuts its text.
    ReplyAssembler assembler;
    std::string assembled;
    std::size_t chunks = 0;
    for (std::string_view field : fields) {
        if (field.empty()) continue;
        const std::string_view rest = field.substr(1);
        switch (field.front()) {
        case 'S':
            chunkStart = server.size();
            server.append(rest);
            session.HandleReply(rest);
            Check(session.PendingReplyBytes() <= ReplyAssembler::Limit, "held reply bytes stay bounded");
            assembler.Append(rest);
            ++chunks;
            while (std::optional<SmtpReply> reply = assembler.Next())
                assembled += reply->text;
            Check(assembled.size() + assembler.Pending() == server.size() && server.starts_with(assembled),
                  "replies hand out every received byte once, in order", assembled);
            Check(assembler.Examined() <= server.size() + chunks, "each received byte is looked at once");
            break;
        case 'A':
            stop();
            session.Abort("TimeOut");
            break;
        case 'C':
            stop();
            state.SendAborted.store(true);
            break;
        case 'F':
            connection.failCommands = true;
            break;
        default:
            break;
        }
        handleFailures();
        if (message.Outcome.Accepted()) {
            Check(endOfDataAt != std::string::npos && HasLine(server, endOfDataAt, "250", " \r"),
                  "an acceptance only for a 250 received after the end-of-data line", server);
            if (!stopped) okBeforeStop = true;
            Check(okBeforeStop, "no acceptance after a failure or cancel");
        }
    }
    return 0;
}
