// A message output for tests that keeps the exact bytes a writer would put on the wire, and can
// raise the abort flag at a chosen piece the way a Cancel on another thread would.
#pragma once

#include "core/mail/dot_stuffing.h"
#include "core/mail/message.h"

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

namespace tarvel::test {

class RecordingOutput : public MessageOutput {
public:
    std::string bytes;
    int lines = 0;
    int blocks = 0;
    // Called after each piece has been recorded, with the piece as WriteMessage gave it.
    std::function<void(std::string_view piece, bool isBlock)> afterPiece;

    void WriteLine(std::string_view piece) override {
        ++lines;
        AppendDotStuffed(bytes, piece);
        if (afterPiece) afterPiece(piece, false);
    }
    void WriteBlock(std::string_view text) override {
        ++blocks;
        AppendDotStuffed(bytes, text);
        bytes += CRLF;
        if (afterPiece) afterPiece(text, true);
    }
};

} // namespace tarvel::test
