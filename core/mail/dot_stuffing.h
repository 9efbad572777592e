// The SMTP transparency rule for message text: a line that begins with "." goes out with one more ".".
#pragma once

#include <string>
#include <string_view>

namespace tarvel {

// Appends `lines` to `out` with one extra "." in front of every line that begins with ".".
// A line begins at the start of `lines` and after every CR LF in it; a lone LF or CR does not
// start a line. No other byte is changed, and `lines` need not end with a line end.
//
// Every writer that puts message text on the wire applies it the same way:
//   WriteLine(piece):  AppendDotStuffed(out, piece)
//   WriteBlock(text):  AppendDotStuffed(out, text); out += CRLF
// (the CR LF that WriteBlock adds starts no text of its own, so it can be appended after the rule).
// Each call treats the start of `lines` as a line start: feed it whole lines, as WriteMessage does.
// The end-of-data line (CR LF "." CR LF) is not message text and never goes through here.
void AppendDotStuffed(std::string& out, std::string_view lines);

} // namespace tarvel
