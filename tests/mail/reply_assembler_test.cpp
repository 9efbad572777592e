// Reply assembly: whole replies whatever the chunking, multi-line replies, codes, and the bound.
#include "mail/reply_assembler.h"

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

TEST(ReplyAssembler, CodesFollowTheLeadingNumber) {
    EXPECT_EQ(ReplyAssembler::CodeOf("250 ok"), 250);
    EXPECT_EQ(ReplyAssembler::CodeOf("250-ok"), 250);
    EXPECT_EQ(ReplyAssembler::CodeOf("  354 go"), 354);
    EXPECT_EQ(ReplyAssembler::CodeOf("hello 250"), 0);
    EXPECT_EQ(ReplyAssembler::CodeOf(""), 0);
    EXPECT_EQ(ReplyAssembler::CodeOf("12345678901234567890"), 123456789);
    // A line without a code ends the reply like a final line: the session then treats code 0.
    EXPECT_EQ(Assemble({"garbage\r\n"}), Replies{"0|garbage\r\n"});
    EXPECT_EQ(Assemble({"250-one\r\nnot a reply line\r\n"}), Replies{"250|250-one\r\nnot a reply line\r\n"});
    EXPECT_EQ(Assemble({"-\r\n"}), Replies{"0|-\r\n"});
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
