// Reply assembly: whole replies whatever the chunking, multi-line replies, codes, and the bound.
#include "core/smtp/reply_assembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvel {
namespace {

// Feeds the chunks in order and returns every reply completed, as "code|text".
std::vector<std::string> Assemble(const std::vector<std::string>& chunks) {
    ReplyAssembler assembler;
    std::vector<std::string> replies;
    for (const std::string& chunk : chunks) {
        assembler.Append(chunk);
        while (auto reply = assembler.Next())
            replies.push_back(std::to_string(reply->code) + "|" + reply->text);
    }
    return replies;
}

using Replies = std::vector<std::string>;

TEST(ReplyAssembler, ALineSplitOverTwoChunksIsOneReply) {
    EXPECT_EQ(Assemble({"220 mx.example.org ES", "MTP ready\r\n"}),
              Replies{"220|220 mx.example.org ESMTP ready\r\n"});
    // CR and LF in different chunks.
    EXPECT_EQ(Assemble({"250 ok\r", "\n"}), Replies{"250|250 ok\r\n"});
    EXPECT_EQ(Assemble({"25", "0", " ok", "\r", "\n"}), Replies{"250|250 ok\r\n"});
}

TEST(ReplyAssembler, HyphenLinesContinueTheReplyWhateverTheChunking) {
    const std::string greeting = "220-mx.example.org\r\n220-no UCE\r\n220 ready\r\n";
    EXPECT_EQ(Assemble({greeting}), Replies{"220|" + greeting});
    EXPECT_EQ(Assemble({"220-mx.example.org\r\n", "220-no UCE\r\n", "220 ready\r\n"}),
              Replies{"220|" + greeting});
    EXPECT_EQ(Assemble({"220-mx.example.org\r\n220-no", " UCE\r\n220 re", "ady\r\n"}),
              Replies{"220|" + greeting});
}

TEST(ReplyAssembler, ACodeAloneEndsTheReply) {
    EXPECT_EQ(Assemble({"250\r\n"}), Replies{"250|250\r\n"});
    EXPECT_EQ(Assemble({"250-first\r\n250\r\n"}), Replies{"250|250-first\r\n250\r\n"});
}

TEST(ReplyAssembler, RepliesInOneChunkComeOutInOrderAndAPartialLineWaits) {
    EXPECT_EQ(Assemble({"250 ok\r\n354 go ahead\r\n221 by"}),
              (Replies{"250|250 ok\r\n", "354|354 go ahead\r\n"}));
    ReplyAssembler assembler;
    assembler.Append("250 ok\r\n221 by");
    ASSERT_TRUE(assembler.Next().has_value());
    EXPECT_FALSE(assembler.Next().has_value());
    EXPECT_EQ(assembler.Pending(), 6u);
    assembler.Append("e\r\n");
    const auto reply = assembler.Next();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, 221);
    EXPECT_EQ(reply->text, "221 bye\r\n");
    EXPECT_EQ(assembler.Pending(), 0u);
}

TEST(ReplyAssembler, ACodeIsExactlyThreeDigitsThenABlankAHyphenOrTheLineEnd) {
    const struct {
        std::string_view line;
        int code;
    } cases[] = {
        {"250 ok", 250}, {"250-ok", 250}, {"250", 250},     {"354 go", 354},
        {"  354 go", 0}, {"354ie", 0},    {"2500 ok", 0},   {"25 ok", 0},
        {"25", 0},       {"", 0},         {"hello 250", 0}, {"12345678901234567890", 0},
        {"25a ok", 0},   {"250\tok", 0},  {"-250 ok", 0},   {"\xb2\xb5\xb0 ok", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplyAssembler::CodeOf(c.line), c.code) << '"' << c.line << '"';
    // A line without a code ends the reply like a final line: the session then treats code 0.
    EXPECT_EQ(Assemble({"garbage\r\n"}), Replies{"0|garbage\r\n"});
    EXPECT_EQ(Assemble({"-\r\n"}), Replies{"0|-\r\n"});
    // "354ie-" announces no further line: the reply ends there, without a code.
    EXPECT_EQ(Assemble({"354ie-x\r\n250 ok\r\n"}), (Replies{"0|354ie-x\r\n", "250|250 ok\r\n"}));
}

TEST(ReplyAssembler, TheLastLineDecidesAndLinesThatDisagreeGiveNoCode) {
    EXPECT_EQ(Assemble({"250-queued?\r\n", "554 5.6.0 rejected\r\n"}),
              Replies{"0|250-queued?\r\n554 5.6.0 rejected\r\n"});
    EXPECT_EQ(Assemble({"250-one\r\nnot a reply line\r\n"}), Replies{"0|250-one\r\nnot a reply line\r\n"});
    EXPECT_EQ(Assemble({"554-a\r\n554-b\r\n250 c\r\n"}), Replies{"0|554-a\r\n554-b\r\n250 c\r\n"});
    EXPECT_EQ(Assemble({"554-a\r\n554 b\r\n"}), Replies{"554|554-a\r\n554 b\r\n"});
    // The next reply starts afresh.
    EXPECT_EQ(Assemble({"250-a\r\n251 b\r\n221 c\r\n"}), (Replies{"0|250-a\r\n251 b\r\n", "221|221 c\r\n"}));
}

TEST(ReplyAssembler, TrickledTextIsLookedAtOnce) {
    // 64 KiB of lone CRs, one per chunk, then many small replies one byte at a time.
    ReplyAssembler assembler;
    constexpr std::size_t Count = 64 * 1024;
    for (std::size_t i = 0; i < Count; ++i) {
        assembler.Append("\r");
        ASSERT_FALSE(assembler.Next().has_value());
    }
    EXPECT_LE(assembler.Examined(), 2 * Count + 2);
    assembler.Clear();

    const std::string replies = [] {
        std::string text;
        for (int i = 0; i < 2000; ++i)
            text += "250-line " + std::to_string(i) + "\r\n";
        return text + "250 end\r\n";
    }();
    for (char c : replies) {
        assembler.Append(std::string_view(&c, 1));
        if (auto reply = assembler.Next()) {
            EXPECT_EQ(reply->code, 250);
            EXPECT_EQ(reply->text, replies);
        }
    }
    EXPECT_EQ(assembler.Pending(), 0u);
    EXPECT_LE(assembler.Examined(), 2 * replies.size());
}

TEST(ReplyAssembler, DropBegunDropsCompleteRepliesAndTheOneUnderWay) {
    const struct {
        std::string before;
        std::string after;
        std::string next;
    } cases[] = {
        {"250 a\r\n250 b\r\n", "", "221 c\r\n"},
        {"250 a\r\n25", "0 b\r\n", "221 c\r\n"},
        {"250-a\r\n", "250 b\r\n", "221 c\r\n"},
        {"250 a\r", "\n", "221 c\r\n"},
        {"", "", "221 c\r\n"},
    };
    for (const auto& c : cases) {
        ReplyAssembler assembler;
        assembler.Append(c.before);
        assembler.DropBegun();
        assembler.Append(c.after);
        EXPECT_FALSE(assembler.Next().has_value()) << c.before << c.after;
        assembler.Append(c.next);
        const auto reply = assembler.Next();
        ASSERT_TRUE(reply.has_value()) << c.before;
        EXPECT_EQ(reply->text, c.next);
        EXPECT_EQ(assembler.Pending(), 0u);
    }
}

TEST(ReplyAssembler, OverflowsOnlyPastTheLimitWithoutACompleteReply) {
    ReplyAssembler assembler;
    const std::string chunk(4096, 'x');
    for (std::size_t total = 0; total + chunk.size() <= ReplyAssembler::Limit; total += chunk.size()) {
        assembler.Append(chunk);
        ASSERT_FALSE(assembler.Next().has_value());
        ASSERT_FALSE(assembler.Overflowed()) << assembler.Pending();
    }
    assembler.Append("x");
    EXPECT_TRUE(assembler.Overflowed());
    assembler.Clear();
    EXPECT_FALSE(assembler.Overflowed());
    EXPECT_EQ(assembler.Pending(), 0u);

    // A long multi-line reply that completes below the limit is handed out whole.
    std::string many;
    for (int i = 0; i < 500; ++i)
        many += "250-" + std::string(100, 'a') + "\r\n";
    many += "250 end\r\n";
    EXPECT_EQ(Assemble({many}), Replies{"250|" + many});
}

} // namespace
} // namespace tarvel
