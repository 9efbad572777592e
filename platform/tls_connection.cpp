// The SChannel client: the handshake loop over InitializeSecurityContext with SNI and SECBUFFER_EXTRA
// kept, the program's own certificate check, records encrypted four to a send, records decrypted as
// they arrive, and the refusal of text received in the clear that the session never saw.
#include "platform/tls_connection.h"

#include <winsock.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/errors/winsock_errors.h"
#include "win/messages.h"

namespace tarvel {
namespace {

constexpr int WouldBlock = 10035;
constexpr char AlertRecord = 21;
constexpr const char* NotTlsText =
    "The encrypted connection could not be set up: the server answered in plain text (for this port, "
    "choose STARTTLS or None)";
constexpr DWORD CommandLimitMs = 5000;
constexpr DWORD WaitSliceMs = 100;
constexpr std::size_t ReadChunk = 16 * 1024 + 512;

constexpr DWORD ContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;

bool Expired(DWORD deadline) {
    return static_cast<LONG>(GetTickCount() - deadline) >= 0;
}

std::string SecurityErrorText(const char* what, SECURITY_STATUS status) {
    char text[160];
    wsprintfA(text, "The encrypted connection could not be set up: %s failed (0x%08lX)", what,
              static_cast<unsigned long>(status));
    return text;
}

// A token that SChannel allocated, freed however the handshake step ends.
struct ContextBuffer {
    SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
    ~ContextBuffer() {
        if (buffer.pvBuffer) FreeContextBuffer(buffer.pvBuffer);
    }
};

} // namespace

TlsConnection::TlsConnection(ClientSocket& socket) : socket_(socket) {}

TlsConnection::~TlsConnection() {
    Reset();
}

void TlsConnection::Reset() {
    if (haveContext_) DeleteSecurityContext(&context_);
    if (haveCredentials_) FreeCredentialsHandle(&credentials_);
    haveContext_ = haveCredentials_ = false;
    encrypted_ = false;
    handshaking_ = false;
    closed_ = false;
    std::lock_guard lock(receiveMutex_);
    received_.clear();
    // The text of the last connection must not linger in memory.
    std::fill(plain_.begin(), plain_.end(), '\0');
    plain_.clear();
    delivered_ = 0;
    out_.clear();
    outSent_ = outPlain_ = 0;
    textBatches_ = textRecords_ = 0;
}

void TlsConnection::Connect() {
    Reset();
    socket_.Connect();
}

void TlsConnection::Disconnect() {
    socket_.Disconnect();
}

void TlsConnection::Report(int error) {
    if (socket_.OnErrorOccurred)
        socket_.OnErrorOccurred(socket_, socket_.SocketHandle(), error, WinSockErrorText(error));
}

void TlsConnection::SendCommand(const std::string& text) {
    if (!encrypted_) return socket_.SendCommand(text);
    std::vector<char> saved;
    saved.swap(out_); // a command never goes out in the middle of message text, but keep that intact
    const std::size_t savedSent = outSent_, savedPlain = outPlain_;
    bool sent = Encrypt(text.data(), text.size());
    if (sent) sent = SendAll(out_.data(), out_.size(), nullptr, GetTickCount() + CommandLimitMs);
    std::fill(out_.begin(), out_.end(), '\0');
    out_.swap(saved);
    outSent_ = savedSent;
    outPlain_ = savedPlain;
    if (!sent) Report(WSAGetLastError() != 0 ? WSAGetLastError() : WSAECONNABORTED);
}

SmtpConnection::SendResult TlsConnection::RawSend(const char* data, std::size_t length) {
    if (!encrypted_) return socket_.RawSend(data, length);
    // After a would-block the writer offers the same bytes again: the records made of them are
    // still going out, and only when all of them have gone are the bytes reported as written.
    if (out_.empty()) {
        if (!Encrypt(data, length)) return {-1, WSAECONNABORTED};
        outSent_ = 0;
        ++textBatches_;
        textRecords_ += lastRecords_;
    }
    while (outSent_ < out_.size()) {
        const int count = static_cast<int>(out_.size() - outSent_);
        const int written =
            send(static_cast<SOCKET>(socket_.SocketHandle()), out_.data() + outSent_, count, 0);
        if (written <= 0) return {-1, WSAGetLastError()};
        outSent_ += static_cast<std::size_t>(written);
    }
    const std::size_t plain = outPlain_;
    out_.clear();
    outSent_ = outPlain_ = 0;
    return {static_cast<long>(plain), 0};
}

bool TlsConnection::Encrypt(const char* data, std::size_t length) {
    const std::size_t maxRecord = sizes_.cbMaximumMessage;
    const std::size_t records =
        std::min(RecordsPerSend, std::max<std::size_t>(1, (length + maxRecord - 1) / maxRecord));
    const std::size_t room = sizes_.cbHeader + maxRecord + sizes_.cbTrailer;
    out_.resize(records * room);
    lastRecords_ = 0;
    std::size_t at = 0, taken = 0;
    for (std::size_t r = 0; r < records && taken < length; ++r) {
        const std::size_t piece = std::min(maxRecord, length - taken);
        char* header = out_.data() + at;
        std::memcpy(header + sizes_.cbHeader, data + taken, piece);
        SecBuffer buffers[4] = {
            {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, header},
            {static_cast<unsigned long>(piece), SECBUFFER_DATA, header + sizes_.cbHeader},
            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, header + sizes_.cbHeader + piece},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&context_, 0, &description, 0) != SEC_E_OK) return false;
        // Wine reports a larger trailer than it writes: the next record starts where this one ends.
        at += buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
        taken += piece;
        lastRecords_ = r + 1;
    }
    out_.resize(at);
    outPlain_ = taken;
    return true;
}

bool TlsConnection::SendAll(const char* data, std::size_t length, const std::atomic<bool>* cancel,
                            DWORD deadline) {
    std::size_t done = 0;
    while (done < length) {
        const int written = send(static_cast<SOCKET>(socket_.SocketHandle()), data + done,
                                 static_cast<int>(length - done), 0);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (WSAGetLastError() != WouldBlock) return false;
        if ((cancel && cancel->load()) || Expired(deadline)) return false;
        socket_.WaitWritable(WaitSliceMs);
    }
    return true;
}

bool TlsConnection::WaitReadable(const std::atomic<bool>* cancel, DWORD deadline) {
    for (;;) {
        if ((cancel && cancel->load()) || Expired(deadline)) return false;
        const int handle = socket_.SocketHandle();
        if (handle == -1) return false;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(static_cast<SOCKET>(handle), &readable);
        timeval slice{0, static_cast<long>(WaitSliceMs * 1000)};
        const int ready = select(0, &readable, nullptr, nullptr, &slice);
        if (ready > 0) return true;
        if (ready < 0) return false;
    }
}

std::string TlsConnection::StartTls(const TlsRequest& request) {
    {
        std::lock_guard lock(receiveMutex_);
        // Text read in the clear that the session has not taken came after its last reply: it was
        // sent before the handshake and must not pass for text from inside TLS.
        if (delivered_ > request.plaintextConsumed || !plain_.empty()) {
            // Before the session took any reply (TLS from the first byte) plain text means a server that
            // does not speak TLS on this port, whichever came first, its greeting or this call.
            if (request.plaintextConsumed == 0) return NotTlsText;
            return "The server sent unencrypted data after agreeing to encrypt the connection; nothing was "
                   "sent";
        }
        handshaking_ = true;
    }
    const std::string failure = Handshake(request);
    handshaking_ = false;
    if (!failure.empty()) return failure;
    encrypted_ = true;
    // The greeting (with TLS from the first byte) may have come with the end of the handshake, or while
    // the certificate was checked: its data event then found the handshake running and read nothing,
    // and the socket raises no other until it is read. Either way the session must look once more.
    PostReadEvent();
    return {};
}

std::string TlsConnection::Handshake(const TlsRequest& request) {
    const DWORD deadline = GetTickCount() + HandshakeLimitMs;
    const std::atomic<bool>* cancel = request.cancel;

    // TLS from the first byte: the connect started by Connect must have completed first.
    for (;;) {
        if ((cancel && cancel->load()) || Expired(deadline))
            return "The connection to the server was not made";
        const int handle = socket_.SocketHandle();
        if (handle == -1) return "The connection to the server was not made";
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(static_cast<SOCKET>(handle), &writable);
        FD_SET(static_cast<SOCKET>(handle), &failed);
        timeval slice{0, static_cast<long>(WaitSliceMs * 1000)};
        const int ready = select(0, nullptr, &writable, &failed, &slice);
        if (ready < 0 || FD_ISSET(static_cast<SOCKET>(handle), &failed))
            return "The connection to the server was not made";
        if (ready > 0) break;
    }

    SCHANNEL_CRED schannel{};
    schannel.dwVersion = SCHANNEL_CRED_VERSION;
    schannel.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    // The certificate is checked by this program, whatever the system would do with it.
    schannel.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    SECURITY_STATUS status =
        AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                  &schannel, nullptr, nullptr, &credentials_, &expiry);
    if (status != SEC_E_OK) return SecurityErrorText("AcquireCredentialsHandle", status);
    haveCredentials_ = true;

    std::string target = request.serverName; // sent as SNI
    std::vector<char> input;
    bool first = true;
    for (;;) {
        if (cancel && cancel->load()) return "The encrypted connection was cancelled";
        SecBuffer inBuffers[2] = {{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN, input.data()},
                                  {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDescription{SECBUFFER_VERSION, 2, inBuffers};
        ContextBuffer token;
        SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &token.buffer};
        ULONG attributes = 0;
        status =
            InitializeSecurityContextA(&credentials_, first ? nullptr : &context_, target.data(),
                                       ContextFlags, 0, 0, first ? nullptr : &inDescription, 0,
                                       first ? &context_ : nullptr, &outDescription, &attributes, &expiry);
        if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) haveContext_ = true;
        first = false;

        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            // Nothing was consumed: read more behind what we have.
        } else {
            if (token.buffer.cbBuffer > 0 && token.buffer.pvBuffer) {
                if (!SendAll(static_cast<const char*>(token.buffer.pvBuffer), token.buffer.cbBuffer, cancel,
                             deadline))
                    return "The connection to the server broke during the encrypted handshake";
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED &&
                status != SEC_I_INCOMPLETE_CREDENTIALS)
                return SecurityErrorText("The handshake", status);
            // What the server sent beyond this step belongs to the next one (or, at the end, to the records).
            if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer > 0) {
                input.erase(input.begin(), input.end() - inBuffers[1].cbBuffer);
            } else {
                input.clear();
            }
            if (status == SEC_E_OK) break;
            if (status == SEC_I_INCOMPLETE_CREDENTIALS) continue; // no client certificate: go on without
            if (!input.empty()) continue;
        }
        if (!WaitReadable(cancel, deadline))
            return cancel && cancel->load() ? "The encrypted connection was cancelled"
                                            : "The server did not finish the encrypted handshake in time";
        char chunk[ReadChunk];
        const int got = recv(static_cast<SOCKET>(socket_.SocketHandle()), chunk, sizeof chunk, 0);
        if (got == 0) return "The server closed the connection during the encrypted handshake";
        if (got < 0) {
            if (WSAGetLastError() == WouldBlock) continue;
            return "The connection to the server broke during the encrypted handshake";
        }
        input.insert(input.end(), chunk, chunk + got);
        // A TLS record starts with its content type (20 to 23); a server that answers with text
        // speaks plain SMTP on this port, and SChannel would only wait for more of it.
        if (input.front() < 20 || input.front() > 23) return NotTlsText;
    }

    status = QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (status != SEC_E_OK) return SecurityErrorText("QueryContextAttributes", status);
    if (std::string problem = CheckCertificate(request.serverName); !problem.empty()) return problem;

    std::lock_guard lock(receiveMutex_);
    received_ = std::move(input);
    return {};
}

std::string TlsConnection::CheckCertificate(const std::string& serverName) {
    PCCERT_CONTEXT raw = nullptr;
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &raw) != SEC_E_OK || !raw)
        return "The server sent no certificate";
    struct Free {
        void operator()(PCCERT_CONTEXT c) const noexcept { CertFreeCertificateContext(c); }
    };
    std::unique_ptr<const CERT_CONTEXT, Free> certificate(raw);
    const CertificateReport report = CheckServerCertificate(certificate.get(), serverName, SystemChain());
    if (report.trusted) return {};
    if (AskTrust && AskTrust(serverName, report)) return {};
    return "The server's certificate was not accepted: " + report.problem;
}

int TlsConnection::Receive(char* buffer, int length) {
    std::lock_guard lock(receiveMutex_);
    if (handshaking_ || length <= 0) return 0;
    if (!encrypted_) {
        const int got = socket_.Receive(buffer, length);
        // The flow hands the session the text up to the first zero byte.
        if (got > 0) delivered_ += strnlen(buffer, static_cast<std::size_t>(got));
        return got;
    }
    if (plain_.size() < static_cast<std::size_t>(length) && !closed_) {
        char chunk[ReadChunk];
        const int got = recv(static_cast<SOCKET>(socket_.SocketHandle()), chunk, sizeof chunk, 0);
        if (got > 0) received_.insert(received_.end(), chunk, chunk + got);
        const bool wasClosed = closed_;
        if (!DecryptReceived()) {
            closed_ = true;
            Report(WSAECONNABORTED);
        } else if (closed_ && !wasClosed) {
            AnswerCloseNotify();
        }
    }
    const std::size_t take = std::min(plain_.size(), static_cast<std::size_t>(length));
    std::memcpy(buffer, plain_.data(), take);
    // The decrypted text must not linger in memory once it has been handed on.
    std::fill(plain_.begin(), plain_.begin() + static_cast<std::ptrdiff_t>(take), '\0');
    plain_.erase(0, take);
    // What is left is asked for by another data event, as the socket would raise for unread bytes.
    if (!plain_.empty()) PostReadEvent();
    return static_cast<int>(take);
}

bool TlsConnection::DecryptReceived() {
    while (!received_.empty()) {
        // The record type is sent in the clear. Wine decrypts the server's close_notify alert as an
        // empty record instead of saying that the context has expired.
        const bool alert = received_.front() == AlertRecord;
        SecBuffer buffers[4] = {
            {static_cast<unsigned long>(received_.size()), SECBUFFER_DATA, received_.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&context_, &description, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) return true;
        if (status == SEC_I_CONTEXT_EXPIRED) {
            // The server's close_notify: the socket's own close event ends the send.
            closed_ = true;
            received_.clear();
            return true;
        }
        if (status != SEC_E_OK) return false;
        if (alert) {
            closed_ = true;
            received_.clear();
            return true;
        }
        std::size_t extra = 0;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0)
                plain_.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            if (b.BufferType == SECBUFFER_EXTRA) extra = b.cbBuffer;
        }
        received_.erase(received_.begin(), received_.end() - static_cast<std::ptrdiff_t>(extra));
    }
    return true;
}

void TlsConnection::AnswerCloseNotify() {
    // A TLS server that closes waits for our close_notify before it closes the connection itself.
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDescription{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&context_, &controlDescription) == SEC_E_OK) {
        ContextBuffer token;
        SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &token.buffer};
        ULONG attributes = 0;
        TimeStamp expiry;
        const SECURITY_STATUS status =
            InitializeSecurityContextA(&credentials_, &context_, nullptr, ContextFlags, 0, 0, nullptr, 0,
                                       nullptr, &outDescription, &attributes, &expiry);
        if ((status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) && token.buffer.cbBuffer > 0)
            send(static_cast<SOCKET>(socket_.SocketHandle()), static_cast<const char*>(token.buffer.pvBuffer),
                 static_cast<int>(token.buffer.cbBuffer), 0);
    }
    // Our end of the stream ends here too, also where the system cannot make the alert.
    shutdown(static_cast<SOCKET>(socket_.SocketHandle()), 1);
}

void TlsConnection::PostReadEvent() {
    const HWND window = socket_.Handle();
    const int handle = socket_.SocketHandle();
    if (window && handle != -1)
        PostMessageA(window, ui::WM_SOCKET_NOTIFY, static_cast<WPARAM>(handle),
                     WSAMAKESELECTREPLY(FD_READ, 0));
}

} // namespace tarvel
