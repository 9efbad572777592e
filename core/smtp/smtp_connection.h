// The byte stream that the SMTP session reads and writes: a plain and a TLS implementation over the
// socket component (platform/), a script in tests. Every byte goes out through the one write loop.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/smtp/certificate_report.h"
#include "core/smtp/write_loop.h"

namespace tarvel {

class SmtpConnection : public RawChannel {
public:
    using SendResult = tarvel::SendResult;

    virtual void SetAddress(const std::string& address) = 0;
    virtual void SetPort(const std::string& port) = 0;
    // Starts a connect and returns at once; the greeting later arrives as received text. Throws
    // ConvertError (core/errors/convert_error.h) for a port that is neither a service name nor a number.
    virtual void Connect() = 0;
    // A whole command line through Write, with the command limits. A failure is reported through the
    // component's error event, which calls the session's Abort on this same thread before it returns.
    virtual void SendCommand(std::string_view text) = 0;
    virtual void Disconnect() = 0;
    virtual std::string GetLocalHostName() = 0;

    // All of `bytes` through the write loop (encrypted first once the stream is).
    virtual WriteResult Write(std::string_view bytes, const WriteLimits& limits) {
        return WriteAll(*this, bytes, limits);
    }
    // The stream itself encrypts what it writes and decrypts what it reads.
    virtual bool Encrypted() const { return false; }
    // A line that holds a password: refused (false, nothing written) unless the stream is encrypted.
    bool SendSecret(std::string_view line) {
        if (!Encrypted()) return false;
        SendCommand(line);
        return true;
    }

    // What a command's write stops at: the send's cancel, except for the "QUIT" that ends a send after
    // it was aborted, which has a short limit of its own instead.
    void SetCancel(const std::atomic<bool>* cancel) { cancel_ = cancel; }
    WriteLimits CommandLimits() const {
        if (cancel_ != nullptr && cancel_->load()) return {nullptr, std::chrono::milliseconds(5000), nullptr};
        return {cancel_, std::chrono::milliseconds(30000), nullptr};
    }

    // Turns the open connection into a TLS one: the handshake, then the server's certificate checked
    // for `serverName`. Everything sent and received afterwards goes through TLS.
    struct TlsRequest {
        std::string serverName;
        // Received text handed to the session since the connect: text that was received in the clear
        // beyond this may have been injected before the handshake and must be refused.
        std::uint64_t plaintextConsumed = 0;
        const std::atomic<bool>* cancel = nullptr; // ends the handshake when set
    };
    // The handshake's end: encrypted (neither field set); a failure, the connection then unusable and
    // closed by the session; or a certificate that failed the check, with the connection established
    // but nothing read or written until TrustCertificate (the user's decision, asked with no lock held).
    struct TlsResult {
        std::string failure;
        std::optional<CertificateReport> question;
    };
    virtual TlsResult StartTls(const TlsRequest& request) {
        (void)request;
        return {"This connection cannot be encrypted", {}};
    }
    // The certificate StartTls asked about is accepted: the stream is encrypted from now on. False when
    // the connection no longer waits for that (closed meanwhile).
    virtual bool TrustCertificate() { return false; }

private:
    const std::atomic<bool>* cancel_ = nullptr;
};

} // namespace tarvel
