// The send benchmark: one message with a large attachment to an SMTP server on 127.0.0.1, through the real
// socket component and session; prints the throughput, the CPU time and the peak memory as key=value lines.
//
//     bench_send [--security zembrix.ini] [--server NAME] PORT ATTACHMENT [MiB]
//
// ATTACHMENT is made (pseudo-random bytes) when it does not exist with the size asked for (default 256 MiB).
// With --security the connection is secured as that file says, and a certificate that fails the check is
// accepted when the file's [Trusted] section names its fingerprint for the server, as the program does
// once the user has trusted it; no log-on. NAME (default 127.0.0.1) is the server the certificate must
// name: Wine matches no IP address in a certificate, so a secure send names the server "localhost".
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/config.h"
#include "core/config/security_config.h"
#include "support/send_driver.h"
#include "core/mail/byte_file.h"
#include "core/mail/message.h"

using namespace tarvel;

namespace {

constexpr std::int64_t MiB = 1024 * 1024;
constexpr double MB = 1e6;
// Long enough for gigabytes on a slow machine; the session's own 30-tick time-out ends a stuck send sooner.
constexpr std::chrono::minutes SendLimit{30};

// Bytes that message text takes on the wire: the leading-dot rule adds one "." per line that begins with one.
class WireCounter final : public MessageOutput {
public:
    std::int64_t bytes = 0;

    void WriteLine(std::string_view piece) override { bytes += Stuffed(piece); }
    void WriteBlock(std::string_view text) override {
        bytes += Stuffed(text) + static_cast<std::int64_t>(CRLF.size());
    }

private:
    static std::int64_t Stuffed(std::string_view lines) {
        std::int64_t n = static_cast<std::int64_t>(lines.size());
        for (std::size_t start = 0; start < lines.size();) {
            if (lines[start] == '.') ++n;
            const std::size_t end = lines.find(CRLF, start);
            if (end == std::string_view::npos) break;
            start = end + CRLF.size();
        }
        return n;
    }
};

bool MakeAttachment(const std::string& path, std::int64_t size) {
    if (const ByteFile existing = OpenBytes(path); existing && SizeOfOpenFile(existing.get()) == size)
        return true;
    const ByteFile file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    std::vector<std::uint64_t> block(MiB / sizeof(std::uint64_t));
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::int64_t left = size; left > 0;) {
        for (std::uint64_t& word : block) {
            // xorshift64: incompressible enough for a transfer that does not compress anyway.
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, MiB));
        if (std::fwrite(block.data(), 1, n, file.get()) != n) return false;
        left -= static_cast<std::int64_t>(n);
    }
    return std::fflush(file.get()) == 0;
}

double Seconds(const FILETIME& time) {
    const ULARGE_INTEGER ticks{{time.dwLowDateTime, time.dwHighDateTime}};
    return static_cast<double>(ticks.QuadPart) / 1e7; // 100 ns units
}

struct CpuTimes {
    double user = 0;
    double kernel = 0;
};

CpuTimes ProcessCpu() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return {};
    return {Seconds(user), Seconds(kernel)};
}

} // namespace

int main(int argc, char** argv) {
    std::string securityPath;
    std::string server = "127.0.0.1";
    while (argc > 2 && std::string_view(argv[1]).starts_with("--")) {
        const std::string_view option = argv[1];
        if (option == "--security") {
            securityPath = argv[2];
        } else if (option == "--server") {
            server = argv[2];
        } else {
            break;
        }
        argc -= 2;
        argv += 2;
    }
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: bench_send [--security zembrix.ini] [--server NAME] PORT ATTACHMENT [MiB]\n");
        return 2;
    }
    SecuritySettings security;
    if (!securityPath.empty()) {
        try {
            LoadSecuritySettings(security, securityPath);
        } catch (const ConfigError& error) {
            std::fprintf(stderr, "bench_send: %s\n", error.what());
            return 2;
        }
    }
    const std::string port = argv[1];
    const std::string path = argv[2];
    const long mib = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 256;
    if (mib <= 0) {
        std::fprintf(stderr, "bench_send: the size must be a positive number of MiB, not '%s'\n", argv[3]);
        return 2;
    }
    const std::int64_t size = mib * MiB;
    if (!MakeAttachment(path, size)) {
        std::fprintf(stderr, "bench_send: cannot make the attachment %s\n", path.c_str());
        return 2;
    }

    MessageList messages(1);
    MailMessage& message = messages.front();
    message.Sender = "bench@tarvel.test";
    message.Recipients = {"sink@tarvel.test"};
    message.ToHeader = "Sink <sink@tarvel.test>";
    message.Subject = "bench";
    message.Body = "hello";
    message.Attachments = {path};
    message.XAttachments = path;

    const CpuTimes before = ProcessCpu();
    bench::RunResult run;
    bool encrypted = false;
    std::uint64_t batches = 0, records = 0;
    {
        bench::SendDriver driver(messages);
        if (security.Mode != SecurityMode::None) {
            driver.SetSecurity(SessionSecurity{security.Mode, {}, {}});
            driver.OnTrustQuestion = [&security](const std::string& name,
                                                 const CertificateReport& report) -> std::optional<bool> {
                // Nobody to ask here: only what the user trusted before goes on.
                return JudgeCertificate(report.trusted, report.sha256, security, name) ==
                       CertificateVerdict::Accept;
            };
        }
        run = driver.Run(server, port, SendLimit);
        encrypted = driver.Tls().Encrypted();
        batches = driver.Tls().TextBatches();
        records = driver.Tls().TextRecords();
    }
    const CpuTimes after = ProcessCpu();

    // Counted after the send (and outside its CPU figures): the same text once more, without a socket.
    WireCounter wire;
    const std::atomic<bool> never{false};
    WriteMessage(message, wire, never);
    wire.bytes += 5; // CR LF "." CR LF

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);

    const double seconds = run.seconds > 0 ? run.seconds : 1e-9;
    std::printf("status=%s\n", run.ended ? run.shown.c_str() : "(did not end)");
    std::printf("security=%s\n", SecurityModeText(security.Mode));
    std::printf("encrypted=%s\n", encrypted ? "yes" : "no");
    if (encrypted) {
        // Message text only: records put together for one send each (four of 16 KiB per 64 KiB buffer).
        std::printf("tls_text_batches=%llu\n", static_cast<unsigned long long>(batches));
        std::printf("tls_text_records=%llu\n", static_cast<unsigned long long>(records));
    }
    std::printf("attachment_bytes=%lld\n", static_cast<long long>(size));
    std::printf("wire_bytes=%lld\n", static_cast<long long>(wire.bytes));
    std::printf("seconds=%.3f\n", run.seconds);
    std::printf("attachment_MBps=%.1f\n", static_cast<double>(size) / MB / seconds);
    std::printf("wire_MBps=%.1f\n", static_cast<double>(wire.bytes) / MB / seconds);
    std::printf("cpu_user_seconds=%.2f\n", after.user - before.user);
    std::printf("cpu_kernel_seconds=%.2f\n", after.kernel - before.kernel);
    std::printf("cpu_seconds=%.2f\n", after.user - before.user + after.kernel - before.kernel);
    std::printf("peak_working_set_MiB=%.1f\n", static_cast<double>(memory.PeakWorkingSetSize) / MiB);
    return run.ended && run.outcome.Accepted() ? 0 : 1;
}
