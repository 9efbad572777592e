// A stand-in for the socket component in SMTP session tests: records the commands, the disconnects
// and the raw bytes the session puts on the wire, and plays scripted send results and failures.
#pragma once

#include "core/smtp/smtp_connection.h"
#include "core/errors/convert_error.h"
#include "core/errors/winsock_errors.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvel::test {

inline constexpr int WouldBlockError = 10035;
inline constexpr int ResetError = 10054;
inline constexpr int RefusedError = 10061;

// One scripted answer of RawSend: take at most `take` bytes, or fail with `error`.
struct SendStep {
    long take;
    int error;
};
inline SendStep Accept(long bytes) {
    return {bytes, 0};
}
inline SendStep WouldBlock() {
    return {0, WouldBlockError};
}
inline SendStep Fail(int error) {
    return {0, error};
}

class ScriptedConnection : public SmtpConnection {
public:
    // The log shows commands as sent, "<disconnect>", and "<data>" for each run of raw sends.
    static constexpr const char* DisconnectEntry = "<disconnect>";
    static constexpr const char* DataEntry = "<data>";
    static constexpr const char* TlsEntry = "<tls>";
    static constexpr const char* TrustEntry = "<trusted>";

    // --- script ---
    std::string hostName = "testhost";
    bool portIsInvalid = false; // Connect raises the conversion error
    int connectError = 0;       // Connect reports this error through the error event
    int failCommandsFrom = -1;  // the SendCommand call with this index (from 0) and all later ones fail
    int commandError = ResetError;
    std::deque<SendStep> sends;                      // answers of RawSend, in order; then everything is taken
    int waitSleepMs = 0;                             // real time that WaitWritable takes
    std::atomic<bool> stalled{false};                // every RawSend would block (a peer that reads nothing)
    std::function<void(const std::string&)> onError; // the component's error event
    std::function<void()> afterRawSend;              // runs after each RawSend, e.g. to press Cancel
    const std::atomic<bool>* sendAborted = nullptr;
    std::string tlsFailure;                       // what StartTls answers; empty: the handshake succeeds
    std::function<void()> duringTls;              // runs inside StartTls, e.g. to press Cancel
    std::optional<CertificateReport> tlsQuestion; // the handshake ends with this certificate to decide on
    bool encrypted = false;                       // a handshake succeeded since the connect
    bool staysPlain = false;                      // the handshake "succeeds" but the stream is not encrypted

    // --- record ---
    std::string ipAddr, port;
    int connects = 0;
    int disconnects = 0;
    int rawSends = 0;
    int rawSendsWhileAborted = 0;
    int waits = 0;
    std::size_t largestSend = 0;
    std::string wire;
    std::vector<TlsRequest> tlsRequests;

    std::vector<std::string> Log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    std::vector<std::string> Commands() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> commands;
        for (const std::string& entry : log_)
            if (entry != DisconnectEntry && entry != DataEntry && entry != TlsEntry)
                commands.push_back(entry);
        return commands;
    }
    std::string Wire() const {
        std::lock_guard lock(mutex_);
        return wire;
    }
    int Waits() const {
        std::lock_guard lock(mutex_);
        return waits;
    }
    int RawSendsWhileAborted() const {
        std::lock_guard lock(mutex_);
        return rawSendsWhileAborted;
    }

    void SetAddress(const std::string& address) override { ipAddr = address; }
    void SetPort(const std::string& text) override { port = text; }
    void Connect() override {
        if (portIsInvalid) throw ConvertError(port);
        ++connects;
        encrypted = false;
        if (connectError != 0) Report(connectError);
    }
    void SendCommand(std::string_view text) override {
        bool failed;
        {
            std::lock_guard lock(mutex_);
            log_.emplace_back(text);
            failed = failCommandsFrom >= 0 && setTexts_ >= failCommandsFrom;
            ++setTexts_;
        }
        // The component reports a failed send at once, on the sending thread.
        if (failed) Report(commandError);
    }
    void Disconnect() override {
        std::lock_guard lock(mutex_);
        ++disconnects;
        log_.push_back(DisconnectEntry);
    }
    std::string GetLocalHostName() override { return hostName; }
    TlsResult StartTls(const TlsRequest& request) override {
        {
            std::lock_guard lock(mutex_);
            log_.push_back(TlsEntry);
            tlsRequests.push_back(request);
        }
        if (duringTls) duringTls();
        if (request.cancel != nullptr && request.cancel->load())
            return {"cancelled during the handshake", {}};
        if (tlsFailure.empty() && tlsQuestion) return {{}, tlsQuestion};
        encrypted = tlsFailure.empty() && !staysPlain;
        return {tlsFailure, {}};
    }
    bool TrustCertificate() override {
        std::lock_guard lock(mutex_);
        log_.push_back(TrustEntry);
        encrypted = true;
        return true;
    }
    bool Encrypted() const override { return encrypted; }

    SendResult RawSend(const char* data, std::size_t length) override {
        SendResult result{};
        {
            std::lock_guard lock(mutex_);
            ++rawSends;
            if (sendAborted != nullptr && sendAborted->load()) ++rawSendsWhileAborted;
            if (length > largestSend) largestSend = length;
            SendStep step{static_cast<long>(length), 0};
            if (stalled.load()) {
                step = WouldBlock();
            } else if (!sends.empty()) {
                step = sends.front();
                sends.pop_front();
            }
            if (step.error != 0) {
                result = {-1, step.error};
            } else {
                const std::size_t taken = std::min(length, static_cast<std::size_t>(step.take));
                wire.append(data, taken);
                if (log_.empty() || log_.back() != DataEntry) log_.push_back(DataEntry);
                result = {static_cast<long>(taken), 0};
            }
        }
        if (afterRawSend) afterRawSend();
        return result;
    }
    bool WaitWritable(int) override {
        {
            std::lock_guard lock(mutex_);
            ++waits;
        }
        if (waitSleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(waitSleepMs));
        return true;
    }

private:
    void Report(int error) {
        if (onError) onError(WinSockErrorText(error));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> log_;
    int setTexts_ = 0;
};

} // namespace tarvel::test
