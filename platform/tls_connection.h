// TLS over SChannel between the socket component and the SMTP session: the same connection interface,
// plain until StartTls, then every command, message record and received text encrypted.
#pragma once

#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <schannel.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/smtp/send_socket.h"
#include "core/smtp/smtp_connection.h"
#include "platform/certificate_check.h"
#include "platform/client_socket.h"
#include "platform/plain_stream.h"

namespace tarvel {

class TlsConnection final : public SmtpConnection, public SendSocket {
public:
    // Where the connection stands; one value, changed under the receive lock, so that a read never
    // finds the handshake over and the records not yet in force.
    enum class State {
        Plain,       // before StartTls: the plain stream's own reads and writes
        Handshaking, // nothing is read or written but the handshake's own records
        Undecided,   // the handshake is done but its certificate failed the check: nothing either way
                     // until the user's decision (TrustCertificate)
        Encrypted,   // every byte through the records
        Closed,      // the handshake failed, or the server's close_notify came: nothing more either way
    };

    // Records put together into one send: four of 16 KiB take the writer's 64 KiB buffer at once.
    static constexpr std::size_t RecordsPerSend = 4;
    // The whole handshake, connect included for TLS from the first byte, as long as the window's time-out.
    static constexpr DWORD HandshakeLimitMs = 30000;

    explicit TlsConnection(ClientSocket& socket);
    ~TlsConnection() override;
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    void SetAddress(const std::string& address) override { plain_.SetAddress(address); }
    void SetPort(const std::string& port) override { plain_.SetPort(port); }
    // Forgets the last connection's TLS state, then connects in the clear.
    void Connect() override;
    void SendCommand(std::string_view text) override;
    void Disconnect() override { plain_.Disconnect(); }
    std::string GetLocalHostName() override { return plain_.GetLocalHostName(); }
    // In the clear only while the stream is plain; afterwards everything goes through Write.
    SendResult RawSend(const char* data, std::size_t length) override;
    bool WaitWritable(int timeoutMs) override { return plain_.WaitWritable(timeoutMs); }
    // Plain: the plain stream's write. Encrypted: up to RecordsPerSend records at a time, each batch
    // through the write loop; the whole text or a failure, never a part of it silently.
    WriteResult Write(std::string_view bytes, const WriteLimits& limits) override;
    bool Encrypted() const override { return state_.load() == State::Encrypted; }
    TlsResult StartTls(const TlsRequest& request) override;
    bool TrustCertificate() override;

    // The send flow's read on a data event: at most `length` bytes of text for the session, decrypted
    // once TLS runs (none while the handshake runs or a record is incomplete). In the clear it is the
    // socket's own read.
    int Receive(char* buffer, int length) override;
    int SocketHandle() const override { return plain_.SocketHandle(); }

    State CurrentState() const { return state_.load(); }
    // Message text (Write) since the connect: the batches of records, each put together for one send,
    // and the records in them. Read once the send is over.
    std::uint64_t TextBatches() const { return textBatches_; }
    std::uint64_t TextRecords() const { return textRecords_; }

private:
    // Write's work; `text`: message text, counted in TextBatches and TextRecords.
    WriteResult WriteRecords(std::string_view bytes, const WriteLimits& limits, bool text);
    // Empty when done; `question` set when the certificate failed the check.
    std::string Handshake(const TlsRequest& request, std::optional<CertificateReport>& question);
    // Empty with `report` filled in, or why there is nothing to check.
    std::string CheckCertificate(const std::string& serverName, CertificateReport& report);
    // Waits until the socket can be read, at most until `deadline`; false on cancel or time-out.
    bool WaitReadable(const std::atomic<bool>* cancel, DWORD deadline);
    // Encrypts up to RecordsPerSend records of the front of `text` into out_; `taken` tells how much.
    bool Encrypt(std::string_view text, std::size_t& taken);
    // Decrypts the whole records that received_ holds into plainText_; false when the peer's data is
    // broken. `closing`: the server's close_notify came.
    bool DecryptReceived(bool& closing);
    void PostReadEvent();
    void AnswerCloseNotify();
    void Reset();

    PlainStream plain_;
    // One thread at a time in SChannel: held around every call on the context or the credentials, never
    // across a send or a receive. Taken after receiveMutex_ and writeMutex_, never before them.
    std::mutex sspi_;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    SecPkgContext_StreamSizes sizes_{};
    std::atomic<State> state_{State::Plain};

    std::mutex receiveMutex_;
    std::vector<char> received_;  // ciphertext not yet decrypted (SECBUFFER_EXTRA kept here)
    std::string plainText_;       // decrypted text not yet handed out
    std::uint64_t delivered_ = 0; // text handed out in the clear since the connect

    // Records go out whole and in order: one writer at a time on the wire.
    std::mutex writeMutex_;
    std::vector<char> out_; // the records of the batch being written
    std::size_t lastRecords_ = 0;
    std::uint64_t textBatches_ = 0;
    std::uint64_t textRecords_ = 0;
};

} // namespace tarvel
