// A fast receiving end for the send benchmark: accepts SMTP sessions on 127.0.0.1, answers every command,
// discards the message text and prints how many bytes each message had. Given a certificate and its key it
// offers STARTTLS (OpenSSL) and takes the rest of the session encrypted. Linux only; ends after N sessions.
//
//     smtp_sink PORT SESSIONS [CERTIFICATE.pem KEY.pem]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view EndOfData = "\r\n.\r\n";

struct FreeContext {
    void operator()(SSL_CTX* context) const noexcept { SSL_CTX_free(context); }
};
struct FreeSsl {
    void operator()(SSL* ssl) const noexcept { SSL_free(ssl); }
};
using TlsContext = std::unique_ptr<SSL_CTX, FreeContext>;

// One accepted connection: plain until StartTls, encrypted after it.
class Peer {
public:
    explicit Peer(int fd) : fd_(fd) {}
    ~Peer() { close(fd_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // Up to `length` bytes; 0 or less when the peer has closed or failed.
    long Read(char* buffer, std::size_t length) {
        if (!ssl_) return recv(fd_, buffer, length, 0);
        std::size_t got = 0;
        return SSL_read_ex(ssl_.get(), buffer, length, &got) == 1 ? static_cast<long>(got) : -1;
    }

    bool Write(std::string_view text) {
        while (!text.empty()) {
            long n;
            if (ssl_) {
                std::size_t done = 0;
                n = SSL_write_ex(ssl_.get(), text.data(), text.size(), &done) == 1 ? static_cast<long>(done)
                                                                                   : -1;
            } else {
                n = send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
            }
            if (n <= 0) return false;
            text.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    bool StartTls(SSL_CTX* context) {
        ssl_.reset(SSL_new(context));
        if (!ssl_ || SSL_set_fd(ssl_.get(), fd_) != 1 || SSL_accept(ssl_.get()) != 1) {
            ERR_print_errors_fp(stderr);
            ssl_.reset();
            return false;
        }
        return true;
    }

    bool Encrypted() const { return ssl_ != nullptr; }
    // The protocol version and cipher suite the handshake agreed on.
    std::string Protocol() const {
        return ssl_ ? std::string(SSL_get_version(ssl_.get())) + " " + SSL_get_cipher_name(ssl_.get()) : "";
    }

private:
    int fd_;
    std::unique_ptr<SSL, FreeSsl> ssl_;
};

// The message text between DATA's 354 and the end-of-data line, read as it comes: every block is searched
// once where it lies, and only the last four bytes of the one before are kept for a line split between two.
class DataCounter {
public:
    void Begin() {
        seen_ = 0;
        tail_.clear();
    }

    // Where in `block` the text after the end-of-data line begins, once the line has been seen.
    std::optional<std::size_t> Take(std::string_view block) {
        std::string edge = tail_;
        edge.append(block.substr(0, std::min<std::size_t>(block.size(), EndOfData.size() - 1)));
        if (const std::size_t at = edge.find(EndOfData); at != std::string::npos)
            return Ended(seen_ - static_cast<long long>(tail_.size()) + static_cast<long long>(at),
                         at + EndOfData.size() - tail_.size());
        if (const std::size_t at = block.find(EndOfData); at != std::string_view::npos)
            return Ended(seen_ + static_cast<long long>(at), at + EndOfData.size());
        seen_ += static_cast<long long>(block.size());
        tail_.append(block.substr(block.size() - std::min(block.size(), EndOfData.size() - 1)));
        tail_.erase(0, tail_.size() - std::min(tail_.size(), EndOfData.size() - 1));
        return std::nullopt;
    }

    // The message's bytes, the line end before the end-of-data line included.
    long long Bytes() const { return bytes_; }

private:
    std::size_t Ended(long long markerAt, std::size_t after) {
        bytes_ = markerAt + 2;
        return after;
    }

    long long seen_ = 0;
    std::string tail_;
    long long bytes_ = 0;
};

// One session: commands line by line; after DATA, everything up to CRLF "." CRLF is counted and dropped.
void Serve(int fd, SSL_CTX* tls) {
    static char buffer[1 << 20];
    Peer peer(fd);
    std::string pending;
    std::string held; // message text that came behind the DATA command in one block
    bool inData = false;
    DataCounter data;
    peer.Write("220 sink ready\r\n");
    for (;;) {
        const long n = peer.Read(buffer, sizeof buffer);
        if (n <= 0) return;
        std::string_view chunk(buffer, static_cast<std::size_t>(n));
        for (;;) {
            if (inData) {
                const std::optional<std::size_t> after = data.Take(chunk);
                if (!after) break;
                inData = false;
                std::printf("message: %lld bytes\n", data.Bytes());
                std::fflush(stdout);
                peer.Write("250 accepted\r\n");
                chunk.remove_prefix(*after);
            }
            pending.append(chunk);
            std::size_t eol;
            while (!inData && (eol = pending.find("\r\n")) != std::string::npos) {
                const std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 2);
                std::string verb = line.substr(0, 8);
                for (auto& c : verb)
                    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
                if (verb.starts_with("DATA")) {
                    inData = true;
                    data.Begin();
                    peer.Write("354 go ahead\r\n");
                } else if (verb.starts_with("QUIT")) {
                    peer.Write("221 bye\r\n");
                    return;
                } else if (verb.starts_with("EHLO")) {
                    peer.Write(tls && !peer.Encrypted() ? "250-sink\r\n250-8BITMIME\r\n250 STARTTLS\r\n"
                                                        : "250-sink\r\n250 8BITMIME\r\n");
                } else if (verb == "STARTTLS" && tls && !peer.Encrypted()) {
                    peer.Write("220 go ahead\r\n");
                    // Anything sent behind the command came before the handshake (RFC 3207): dropped.
                    pending.clear();
                    if (!peer.StartTls(tls)) return;
                    std::printf("tls: %s\n", peer.Protocol().c_str());
                    std::fflush(stdout);
                } else {
                    peer.Write("250 ok\r\n");
                }
            }
            if (!inData || pending.empty()) break;
            held = std::move(pending);
            pending.clear();
            chunk = held;
        }
    }
}

TlsContext MakeTlsContext(const char* certificate, const char* key) {
    TlsContext context(SSL_CTX_new(TLS_server_method()));
    if (!context || SSL_CTX_use_certificate_chain_file(context.get(), certificate) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), key, SSL_FILETYPE_PEM) != 1) {
        ERR_print_errors_fp(stderr);
        return nullptr;
    }
    // Fewer reads from the socket: OpenSSL takes what is there, not one record header at a time.
    SSL_CTX_set_read_ahead(context.get(), 1);
    // A client that resets the connection after the 221 instead of sending close_notify is no failure here.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    return context;
}

} // namespace

int main(int argc, char** argv) {
    const int port = argc > 1 ? std::atoi(argv[1]) : 0;
    const int sessions = argc > 2 ? std::atoi(argv[2]) : 1;
    TlsContext tls;
    if (argc > 4) {
        tls = MakeTlsContext(argv[3], argv[4]);
        if (!tls) {
            std::fprintf(stderr, "smtp_sink: cannot use the certificate %s and key %s\n", argv[3], argv[4]);
            return 1;
        }
    }
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0) {
        std::perror("smtp_sink");
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("port %d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (int i = 0; i < sessions; ++i) {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) break;
        Serve(fd, tls.get());
    }
    close(listener);
    return 0;
}
