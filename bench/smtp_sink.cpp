// A fast receiving end for the send benchmark: accepts SMTP sessions on 127.0.0.1, answers every command,
// discards the message text and prints how many bytes each message had. Linux only; ends after N sessions.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

bool SendAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// One session: commands line by line; after DATA, everything up to CRLF "." CRLF is counted and dropped.
void Serve(int fd) {
    static char buffer[1 << 20];
    std::string pending;
    bool inData = false;
    long long dataBytes = 0;
    SendAll(fd, "220 sink ready\r\n");
    for (;;) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        std::string_view chunk(buffer, static_cast<size_t>(n));
        if (inData) {
            // Keep only the tail that could hold a split end marker.
            pending.append(chunk);
            auto end = pending.find("\r\n.\r\n");
            if (end == std::string::npos) {
                dataBytes += static_cast<long long>(pending.size() > 4 ? pending.size() - 4 : 0);
                pending.erase(0, pending.size() > 4 ? pending.size() - 4 : 0);
                continue;
            }
            dataBytes += static_cast<long long>(end + 2);
            pending.erase(0, end + 5);
            inData = false;
            std::printf("message: %lld bytes\n", dataBytes);
            std::fflush(stdout);
            SendAll(fd, "250 accepted\r\n");
        } else {
            pending.append(chunk);
        }
        size_t eol;
        while (!inData && (eol = pending.find("\r\n")) != std::string::npos) {
            std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 2);
            std::string verb = line.substr(0, 4);
            for (auto& c : verb)
                c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            if (verb == "DATA") {
                inData = true;
                dataBytes = 0;
                SendAll(fd, "354 go ahead\r\n");
            } else if (verb == "QUIT") {
                SendAll(fd, "221 bye\r\n");
                close(fd);
                return;
            } else if (verb == "EHLO") {
                SendAll(fd, "250-sink\r\n250 8BITMIME\r\n");
            } else {
                SendAll(fd, "250 ok\r\n");
            }
        }
    }
    close(fd);
}

} // namespace

int main(int argc, char** argv) {
    int port = argc > 1 ? std::atoi(argv[1]) : 0;
    int sessions = argc > 2 ? std::atoi(argv[2]) : 1;
    int listener = socket(AF_INET, SOCK_STREAM, 0);
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
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) break;
        Serve(fd);
    }
    close(listener);
    return 0;
}
