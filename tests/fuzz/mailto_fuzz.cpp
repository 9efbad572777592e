// Fuzz target: "mailto:" links from the command line. Whatever the link, no field holds a line break
// or another control character (the body keeps its CR LF lines and tabs only), the sizes stay bounded
// by the link's, and the fields make a record that the session would send.
#include "fuzz_support.h"

#include "core/link/mailto.h"
#include "core/mail/field_check.h"
#include "core/mail/message.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace tarvel;
using namespace tarvel::fuzz;

namespace {

void CheckFields(const MailToFields& fields, std::size_t linkSize) {
    Check(!HasControl(fields.email), "no control character in the addresses", fields.email);
    Check(!HasControl(fields.subject), "no control character in the subject", fields.subject);
    Check(!HasControl(fields.notice), "no control character in the notice", fields.notice);
    Check(!HasControl(fields.body, true) && OnlyCrLfPairs(fields.body), "the body is CR LF lines",
          fields.body);
    Check(fields.subject.size() <= MaxMailToSubject, "the subject is cut to its bound");
    Check(fields.email.size() <= linkSize, "the addresses are no longer than the link");
    Check(fields.body.size() <= 2 * linkSize, "the body grows at most by its line ends");
    Check(fields.notice.size() <= LinkAddressLeftOutText.size() + 2 * linkSize, "the notice is bounded");

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
    CheckFields(ParseMailToLink(link, Utf8ToLatin1), size);

    // The same link as the shell may hand it over: cut at blanks into arguments.
    std::vector<std::string> args{"/u"};
    std::size_t start = 0;
    for (std::size_t blank = link.find(' '); blank != std::string::npos; blank = link.find(' ', start)) {
        args.push_back(link.substr(start, blank - start));
        start = blank + 1;
    }
    args.push_back(link.substr(start));
    CheckFields(ParseMailToArguments(args, Utf8ToLatin1), size);
    return 0;
}
