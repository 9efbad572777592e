// Fuzz target: "mailto:" links from the command line. Whatever the link, every field is UTF-8, no field
// holds a line break or another control character (the body keeps its CR LF lines and tabs only), the
// sizes stay bounded by the link's, and the fields make a record that the session would send.
#include "fuzz_support.h"

#include "core/link/mailto.h"
#include "core/mail/field_check.h"
#include "core/mail/message.h"
#include "core/text/utf8.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace tarvel;
using namespace tarvel::fuzz;

namespace {

void CheckFields(const MailToFields& fields, std::size_t linkSize) {
    for (const std::string* field : {&fields.email, &fields.subject, &fields.body, &fields.notice})
        Check(IsValidUtf8(*field), "every field is UTF-8, whatever the link held", *field);
    Check(!HasControl(fields.email), "no control character in the addresses", fields.email);
    Check(!HasControl(fields.subject), "no control character in the subject", fields.subject);
    Check(!HasControl(fields.notice), "no control character in the notice", fields.notice);
    Check(!HasControl(fields.body, true) && OnlyCrLfPairs(fields.body), "the body is CR LF lines",
          fields.body);
    // The bound counts characters (code points), not bytes or UTF-16 units.
    const auto characters = std::count_if(fields.subject.begin(), fields.subject.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    });
    Check(static_cast<std::size_t>(characters) <= MaxMailToSubject, "the subject is cut to its bound");
    Check(fields.email.size() <= 3 * linkSize, "the addresses are bounded by the link");
    Check(fields.body.size() <= 3 * linkSize, "the body is bounded by the link");
    Check(fields.notice.size() <= LinkAddressLeftOutText.size() + 4 * linkSize, "the notice is bounded");

    MailMessage message;
    message.Sender = "me@example.org";
    message.ToHeader = " <" + fields.email + ">";
    SplitToList(message.Recipients, fields.email, ';');
    message.Subject = fields.subject;
    const std::string problem = UnsendableFieldText(message);
    Check(problem.empty() || problem.find("line break") == std::string::npos,
          "nothing from a link breaks a command or a header line", problem);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string link(reinterpret_cast<const char*>(data), size);
    CheckFields(ParseMailToLink(link), size);

    // The same link as the shell may hand it over: cut at blanks into arguments.
    std::vector<std::string> args{"/u"};
    std::size_t start = 0;
    for (std::size_t blank = link.find(' '); blank != std::string::npos; blank = link.find(' ', start)) {
        args.push_back(link.substr(start, blank - start));
        start = blank + 1;
    }
    args.push_back(link.substr(start));
    CheckFields(ParseMailToArguments(args), size);
    return 0;
}
