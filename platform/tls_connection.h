// TLS over SChannel between the socket component and the SMTP session: the same connection interface,
// plain until StartTls, then every command, message record and received text encrypted.
#pragma once

#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <schannel.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/smtp/send_socket.h"
#include "core/smtp/smtp_connection.h"
#include "platform/certificate_check.h"
#include "platform/client_socket.h"

namespace tarvel {

class TlsConnection final : public SmtpConnection, public SendSocket {
public:
    // Asked on the handshake's thread when the certificate fails the check; true accepts it (a
    // fingerprint the user trusted before, or the user's answer now). Unset: refused.
    using TrustQuestion = std::function<bool(const std::string& serverName, const CertificateReport& report)>;

    // Records put together into one send: four of 16 KiB take the writer's 64 KiB buffer at once.
    static constexpr std::size_t RecordsPerSend = 4;
    // The whole handshake, connect included for TLS from the first byte, as long as the window's time-out.
    static constexpr DWORD HandshakeLimitMs = 30000;

    explicit TlsConnection(ClientSocket& socket);
    ~TlsConnection() override;
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    TrustQuestion AskTrust;

    void SetAddress(const std::string& address) override { socket_.SetAddress(address); }
    void SetPort(const std::string& port) override { socket_.SetPort(port); }
    // Forgets the last connection's TLS state, then connects in the clear.
    void Connect() override;
    void SendCommand(const std::string& text) override;
    void Disconnect() override;
    std::string GetLocalHostName() override { return socket_.GetLocalHostName(); }
    SendResult RawSend(const char* data, std::size_t length) override;
    bool WaitWritable(int timeoutMs) override { return socket_.WaitWritable(timeoutMs); }
    std::string StartTls(const TlsRequest& request) override;

    // The send flow's read on a data event: at most `length` bytes of text for the session, decrypted
    // once TLS runs (none while the handshake runs or a record is incomplete). In the clear it is the
    // socket's own read.
    int Receive(char* buffer, int length) override;
    int SocketHandle() const override { return socket_.SocketHandle(); }

    bool Encrypted() const { return encrypted_.load(); }
    // Message text (RawSend) since the connect: the batches of records, each put together for one send,
    // and the records in them. Read once the send is over.
    std::uint64_t TextBatches() const { return textBatches_; }
    std::uint64_t TextRecords() const { return textRecords_; }

private:
    std::string Handshake(const TlsRequest& request);
    std::string CheckCertificate(const std::string& serverName);
    bool SendAll(const char* data, std::size_t length, const std::atomic<bool>* cancel, DWORD deadline);
    // Waits until the socket can be read, at most until `deadline`; false on cancel or time-out.
    bool WaitReadable(const std::atomic<bool>* cancel, DWORD deadline);
    // Encrypts up to RecordsPerSend records of `data` into out_, one after the other.
    bool Encrypt(const char* data, std::size_t length);
    // Decrypts the whole records that received_ holds into plain_; false when the peer's data is broken.
    bool DecryptReceived();
    void PostReadEvent();
    void AnswerCloseNotify();
    void Reset();
    void Report(int error);

    ClientSocket& socket_;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    SecPkgContext_StreamSizes sizes_{};
    std::atomic<bool> encrypted_{false};
    std::atomic<bool> handshaking_{false};
    std::atomic<bool> closed_{false};

    std::mutex receiveMutex_;
    std::vector<char> received_;  // ciphertext not yet decrypted (SECBUFFER_EXTRA kept here)
    std::string plain_;           // decrypted text not yet handed out
    std::uint64_t delivered_ = 0; // text handed out in the clear since the connect

    // Ciphertext of the last RawSend call still going out, and how much plaintext it stands for.
    std::vector<char> out_;
    std::size_t outSent_ = 0;
    std::size_t outPlain_ = 0;
    std::size_t lastRecords_ = 0; // made by the last Encrypt
    std::uint64_t textBatches_ = 0;
    std::uint64_t textRecords_ = 0;
};

} // namespace tarvel
