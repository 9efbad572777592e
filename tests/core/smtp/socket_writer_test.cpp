// The session's message writers: exact bytes on the wire, few large sends, waiting on a full send
// buffer, a hard error, the abort flag and the byte counters.
#include "core/smtp/socket_writer.h"

#include "core/mail/recording_output.h"
#include "core/smtp/scripted_connection.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace tarvel {
namespace {

using test::Accept;
using test::Fail;
using test::RecordingOutput;
using test::ScriptedConnection;
using test::WouldBlock;

class SocketWriterTest : public ::testing::Test {
protected:
    SocketWriterTest() { connection.sendAborted = &state.SendAborted; }

    // Gives the same pieces to the writer and to a recording output; both must agree byte for byte.
    void Line(std::string_view piece) {
        writer.WriteLine(piece);
        expected.WriteLine(piece);
    }
    void Block(std::string_view text) {
        writer.WriteBlock(text);
        expected.WriteBlock(text);
    }

    ScriptedConnection connection;
    SendSignals state;
    SocketWriter writer{connection, state};
    RecordingOutput expected;
};

TEST_F(SocketWriterTest, LeadingDotRuleAndEndOfData) {
    Line("To: a@b\r\n");
    Block(".\r\n.hidden\r\nend.\r\n..two");
    Line(".\r\n");
    writer.WriteEndOfData();
    EXPECT_EQ(connection.wire, "To: a@b\r\n..\r\n..hidden\r\nend.\r\n...two\r\n..\r\n\r\n.\r\n");
    EXPECT_EQ(connection.wire, expected.bytes + "\r\n.\r\n");
}

TEST_F(SocketWriterTest, PiecesAreGatheredIntoFewLargeSends) {
    const std::string block(76, 'Q');
    for (int i = 0; i < 2000; ++i)
        Block(block); // 156000 bytes
    EXPECT_EQ(connection.rawSends, 2) << "nothing is sent before the buffer is full";
    writer.Flush();
    EXPECT_EQ(connection.rawSends, 3);
    EXPECT_LE(connection.largestSend, SocketWriter::Capacity);
    EXPECT_EQ(connection.wire, expected.bytes);
    writer.Flush();
    EXPECT_EQ(connection.rawSends, 3) << "an empty buffer makes no send";
}

// Random texts with long lines, lone CR and LF, and dots at line starts, put in every way the message
// writer does: the bytes must equal the rule applied to each piece, wherever the slices are cut.
TEST_F(SocketWriterTest, SlicedPiecesKeepTheLeadingDotRule) {
    std::mt19937 random(20240601);
    const std::string alphabet = ".\r\nab";
    for (int round = 0; round < 12; ++round) {
        std::string text;
        const std::size_t size = random() % (3 * SocketWriter::Capacity);
        while (text.size() < size) {
            const auto kind = random() % 4;
            if (kind == 0)
                text += std::string(random() % (2 * SocketWriter::Capacity), 'x');
            else if (kind == 1)
                text += ".\r\n";
            else
                text += alphabet[random() % alphabet.size()];
        }
        if (round % 2 == 0)
            Block(text);
        else
            Line(text + "\r\n");
    }
    // A line end cut in two at a slice boundary: CR as the last byte that would fit.
    const std::size_t cut = (SocketWriter::Capacity - 1) * 3 / 4;
    Block(std::string(cut - 1, 'y') + "\r\n." + std::string(cut, 'z'));
    writer.Flush();
    EXPECT_EQ(connection.wire.size(), expected.bytes.size());
    EXPECT_TRUE(connection.wire == expected.bytes)
        << "first difference at "
        << std::mismatch(connection.wire.begin(), connection.wire.end(), expected.bytes.begin(),
                         expected.bytes.end())
                   .first -
               connection.wire.begin();
    EXPECT_LE(connection.largestSend, SocketWriter::Capacity);
}

TEST_F(SocketWriterTest, FullSendBufferIsWaitedForAndPartialWritesContinue) {
    connection.sends = {Accept(5), WouldBlock(), WouldBlock(), Accept(1), WouldBlock(), Accept(2)};
    for (int i = 0; i < 40; ++i)
        connection.sends.push_back(WouldBlock());
    connection.sends.push_back(Accept(3));
    state.IdleTicks = 7;
    Line("Subject: x\r\n");
    Block(".body");
    writer.WriteEndOfData();
    EXPECT_EQ(connection.wire, expected.bytes + "\r\n.\r\n") << "the end-of-data line is written whole";
    EXPECT_EQ(connection.waits, 43) << "one wait per would-block answer, no spinning";
    EXPECT_EQ(state.IdleTicks, 0);
    EXPECT_FALSE(writer.Failed());
    EXPECT_FALSE(state.SendAborted);
}

TEST_F(SocketWriterTest, WouldBlockAloneKeepsTheIdleCount) {
    for (int i = 0; i < 5; ++i)
        connection.sends.push_back(WouldBlock());
    state.IdleTicks = 7;
    connection.afterRawSend = [this] {
        if (connection.rawSends == 5) state.SendAborted = true;
    };
    Line("To: x\r\n");
    writer.Flush();
    EXPECT_EQ(state.IdleTicks, 7) << "only a successful send resets it";
    EXPECT_EQ(connection.wire, "");
    EXPECT_EQ(connection.rawSendsWhileAborted, 0);
    EXPECT_FALSE(writer.Failed()) << "a cancel is not a write failure";
}

TEST_F(SocketWriterTest, HardErrorEndsTheTransferWithItsText) {
    connection.sends = {Accept(4), Fail(test::ResetError)};
    Line("To: someone@example.org\r\n");
    writer.Flush();
    EXPECT_TRUE(writer.Failed());
    EXPECT_EQ(writer.FailureText(), "Connection reset by peer");
    EXPECT_TRUE(state.SendAborted) << "so that WriteMessage stops reading the files";
    EXPECT_EQ(connection.rawSends, 2);
    Line("Subject: more\r\n");
    writer.WriteEndOfData();
    EXPECT_EQ(connection.rawSends, 2) << "nothing is tried after a hard error";
    EXPECT_EQ(connection.wire, "To: ");
}

TEST_F(SocketWriterTest, NothingReachesTheServerOnceAborted) {
    const std::string block(76, 'Q');
    connection.afterRawSend = [this] { state.SendAborted = true; };
    for (int i = 0; i < 2000; ++i)
        writer.WriteBlock(block);
    writer.WriteEndOfData();
    EXPECT_EQ(connection.rawSends, 1);
    EXPECT_EQ(connection.rawSendsWhileAborted, 0);
    EXPECT_FALSE(connection.wire.ends_with("\r\n.\r\n"));
}

TEST_F(SocketWriterTest, CountsAsTheMessageWriterDoes) {
    writer.WriteLine("To: x\r\n"); // 7 - 2
    writer.WriteBlock("abc");      // 3
    writer.WriteBlock("");         // 0
    writer.WriteLine("\r\n");      // 0
    writer.WriteEndOfData();       // not message text
    EXPECT_EQ(state.BytesSent, 8);
    EXPECT_EQ(connection.wire, "To: x\r\nabc\r\n\r\n\r\n\r\n.\r\n");
}

} // namespace
} // namespace tarvel
