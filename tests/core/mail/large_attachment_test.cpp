// Attachments beyond 32 bits and beyond what should sit in memory: 64-bit sizes, and streaming
// that holds one piece at a time however large the file is.
#include "core/mail/dot_stuffing.h"
#include "core/mail/message.h"

#include "core/mail/recording_output.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

// Every operator new of this test program goes through here, so a test can see the most memory
// that a call held at once.
namespace {
std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};
constexpr std::size_t SizeHeader = __STDCPP_DEFAULT_NEW_ALIGNMENT__;

void* Allocate(std::size_t size) noexcept {
    void* block = std::malloc(size + SizeHeader);
    if (!block) return nullptr;
    *static_cast<std::size_t*>(block) = size;
    const std::int64_t live = liveBytes += static_cast<std::int64_t>(size);
    std::int64_t peak = peakBytes.load();
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
    return static_cast<char*>(block) + SizeHeader;
}

void Release(void* pointer) noexcept {
    if (!pointer) return;
    void* block = static_cast<char*>(pointer) - SizeHeader;
    liveBytes -= static_cast<std::int64_t>(*static_cast<std::size_t*>(block));
    std::free(block);
}

void* AllocateOrThrow(std::size_t size) {
    if (void* pointer = Allocate(size)) return pointer;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* pointer) noexcept {
    Release(pointer);
}
void operator delete[](void* pointer) noexcept {
    Release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    Release(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
    Release(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
    Release(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
    Release(pointer);
}

namespace tarvel {
namespace {

// A file of `size` zero bytes that takes no disk space where the file system allows holes.
bool MakeSparseFile(const std::string& path, std::int64_t size) {
#ifdef _WIN32
    struct HandleCloser {
        void operator()(HANDLE handle) const noexcept {
            if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        }
    };
    const std::unique_ptr<void, HandleCloser> file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER end;
    end.QuadPart = size;
    // Moving the end of file writes no zeros: NTFS reads the gap as zeros, Wine makes it a hole.
    return SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.get());
#else
    struct Descriptor {
        int value;
        ~Descriptor() {
            if (value >= 0) close(value);
        }
    };
    const Descriptor file{open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
    return file.value >= 0 && ftruncate(file.value, static_cast<off_t>(size)) == 0;
#endif
}

// Counts the bytes that would go on the wire and keeps none of them beyond the piece in hand.
class CountingOutput : public MessageOutput {
public:
    CountingOutput() { wire_.reserve(256); }

    std::int64_t bytes = 0;
    std::int64_t blocks = 0;
    std::int64_t fullBlocksNotZeros = 0;
    std::size_t largestPiece = 0;

    void WriteLine(std::string_view piece) override { Count(piece, false); }
    void WriteBlock(std::string_view text) override {
        ++blocks;
        if (text.size() == 76 && text.find_first_not_of('A') != std::string_view::npos) ++fullBlocksNotZeros;
        Count(text, true);
    }

private:
    void Count(std::string_view text, bool block) {
        wire_.clear();
        AppendDotStuffed(wire_, text);
        if (block) wire_ += CRLF;
        bytes += static_cast<std::int64_t>(wire_.size());
        largestPiece = std::max(largestPiece, wire_.size());
    }
    std::string wire_;
};

class LargeAttachmentTest : public ::testing::Test {
protected:
    test::TempFolder folder;
};

TEST_F(LargeAttachmentTest, SizesAndEstimateOfA3GiBFileNeedMoreThan32Bits) {
    const std::int64_t size = (std::int64_t{3} << 30) + 1000;
    if (!MakeSparseFile("huge.bin", size)) GTEST_SKIP() << "this file system refuses a 3 GiB sparse file";
    EXPECT_EQ(FileSizeOf("huge.bin"), size);
    MailMessage message;
    message.Body = "0123456789";
    message.Attachments = {"huge.bin"};
    // 3221226472 * 4 / 3 = 4294968629: past 32 bits unsigned, let alone signed.
    EXPECT_EQ(EstimateMessageSize(message), 10 + std::int64_t{4294968629});
}

TEST_F(LargeAttachmentTest, StreamsA64MiBFileHoldingOnePieceAtATime) {
    const std::int64_t size = (std::int64_t{64} << 20) + 5;
    MailMessage message;
    message.ToHeader = " <ann@example.com>";
    message.Sender = "me@example.org";
    message.Attachments = {"big.bin"};
    std::atomic<bool> aborted{false};

    // The same message with an empty file gives every byte except the content lines.
    ASSERT_TRUE(test::TempFolder::PutFile("big.bin", ""));
    test::RecordingOutput frame;
    ASSERT_TRUE(WriteMessage(message, frame, aborted));

    if (!MakeSparseFile("big.bin", size)) GTEST_SKIP() << "this file system refuses a sparse file";
    ASSERT_EQ(FileSizeOf("big.bin"), size);
    const std::int64_t fullLines = size / 57;
    const std::int64_t rest = size % 57;
    const std::int64_t content = fullLines * 78 + (rest ? (rest + 2) / 3 * 4 + 2 : 0) + 2;

    CountingOutput output;
    WriteFailure failure;
    const std::int64_t before = liveBytes.load();
    peakBytes = before;
    ASSERT_TRUE(WriteMessage(message, output, aborted, &failure)) << failure.path << ": " << failure.reason;
    const std::int64_t held = peakBytes.load() - before;

    EXPECT_EQ(output.bytes, static_cast<std::int64_t>(frame.bytes.size()) - 2 + content);
    EXPECT_EQ(output.blocks, fullLines + (rest ? 1 : 0) + 1);
    EXPECT_EQ(output.fullBlocksNotZeros, 0);
    EXPECT_LE(output.largestPiece, 128u);
    EXPECT_LT(held, 16 * 1024) << "WriteMessage held " << held << " bytes at once for a " << size
                               << "-byte file";
}

} // namespace
} // namespace tarvel
