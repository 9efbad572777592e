// The SChannel stream: the handshake loop over InitializeSecurityContext with SNI and SECBUFFER_EXTRA
// kept, the program's own certificate check, records encrypted four to a send, records decrypted as
// they arrive, and the refusal of text received in the clear that the session never saw. One thread at
// a time in SChannel (sspi_); the plain stream puts the records on the wire.
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
constexpr DWORD WaitSliceMs = 100;
constexpr std::size_t ReadChunk = 16 * 1024 + 512;

constexpr DWORD ContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;
// What the context must give: confidentiality, integrity (records that cannot be replayed or reordered
// unnoticed) and a stream of records.
constexpr ULONG RequiredAttributes =
    ISC_RET_CONFIDENTIALITY | ISC_RET_SEQUENCE_DETECT | ISC_RET_REPLAY_DETECT | ISC_RET_STREAM;
constexpr const char* WeakContextText =
    "The encrypted connection could not be set up: it would not be confidential and protected against "
    "tampering";

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

TlsConnection::TlsConnection(ClientSocket& socket) : plain_(socket) {}

TlsConnection::~TlsConnection() {
    Reset();
}

void TlsConnection::Reset() {
    // No other thread may be inside SChannel, reading or writing while the context goes.
    std::scoped_lock lock(writeMutex_, receiveMutex_, sspi_);
    state_ = State::Plain;
    if (haveContext_) DeleteSecurityContext(&context_);
    if (haveCredentials_) FreeCredentialsHandle(&credentials_);
    haveContext_ = haveCredentials_ = false;
    received_.clear();
    // The text of the last connection must not linger in memory.
    WipeBytes(plainText_.data(), plainText_.size());
    plainText_.clear();
    delivered_ = 0;
    out_.clear();
    textBatches_ = textRecords_ = 0;
}

void TlsConnection::Connect() {
    Reset();
    plain_.Connect();
}

void TlsConnection::SendCommand(std::string_view text) {
    plain_.Report(WriteRecords(text, CommandLimits(), false));
}

SendResult TlsConnection::RawSend(const char* data, std::size_t length) {
    if (state_.load() != State::Plain) return {-1, WSAENOTCONN};
    return plain_.RawSend(data, length);
}

WriteResult TlsConnection::Write(std::string_view bytes, const WriteLimits& limits) {
    return WriteRecords(bytes, limits, true);
}

WriteResult TlsConnection::WriteRecords(std::string_view bytes, const WriteLimits& limits, bool text) {
    const State state = state_.load();
    if (state == State::Plain) return plain_.Write(bytes, limits);
    // Nothing goes out in the clear once the handshake has begun, nor after it failed.
    if (state != State::Encrypted) return {WriteEnd::Failed, WSAENOTCONN};
    std::lock_guard lock(writeMutex_);
    while (!bytes.empty()) {
        if (limits.cancel != nullptr && limits.cancel->load()) return {WriteEnd::Cancelled, 0};
        std::size_t taken = 0;
        if (!Encrypt(bytes, taken)) return {WriteEnd::Failed, WSAECONNABORTED};
        if (text) {
            ++textBatches_;
            textRecords_ += lastRecords_;
        }
        const WriteResult sent = WriteAll(plain_, std::string_view(out_.data(), out_.size()), limits);
        if (!sent.Ok()) return sent;
        bytes.remove_prefix(taken);
    }
    return {};
}

bool TlsConnection::Encrypt(std::string_view text, std::size_t& taken) {
    std::lock_guard lock(sspi_);
    // The context may have gone with a reset on another thread.
    if (!haveContext_ || state_.load() != State::Encrypted) return false;
    const std::size_t maxRecord = sizes_.cbMaximumMessage;
    const std::size_t records =
        std::min(RecordsPerSend, std::max<std::size_t>(1, (text.size() + maxRecord - 1) / maxRecord));
    const std::size_t room = sizes_.cbHeader + maxRecord + sizes_.cbTrailer;
    out_.resize(records * room);
    lastRecords_ = 0;
    std::size_t at = 0;
    taken = 0;
    for (std::size_t r = 0; r < records && taken < text.size(); ++r) {
        const std::size_t piece = std::min(maxRecord, text.size() - taken);
        char* header = out_.data() + at;
        std::memcpy(header + sizes_.cbHeader, text.data() + taken, piece);
        SecBuffer buffers[4] = {
            {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, header},
            {static_cast<unsigned long>(piece), SECBUFFER_DATA, header + sizes_.cbHeader},
            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, header + sizes_.cbHeader + piece},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = EncryptMessage(&context_, 0, &description, 0);
        const std::size_t record = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
        // A record that is not the whole piece, or larger than its room, is an error, never a silent cut.
        if (status != SEC_E_OK || buffers[1].cbBuffer != piece || record > room) {
            WipeBytes(out_.data(), out_.size());
            out_.clear();
            return false;
        }
        // Wine reports a larger trailer than it writes: the next record starts where this one ends.
        at += record;
        taken += piece;
        lastRecords_ = r + 1;
    }
    out_.resize(at);
    return true;
}

bool TlsConnection::WaitReadable(const std::atomic<bool>* cancel, DWORD deadline) {
    for (;;) {
        if ((cancel && cancel->load()) || Expired(deadline)) return false;
        const int handle = plain_.SocketHandle();
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

TlsConnection::TlsResult TlsConnection::StartTls(const TlsRequest& request) {
    {
        std::lock_guard lock(receiveMutex_);
        if (state_.load() != State::Plain) return {"This connection cannot be encrypted", {}};
        // Nothing may be waiting in the clear once the server has agreed: text the session has not taken,
        // and text that has come but is not read yet, were both sent before the handshake and must not
        // pass for text from inside TLS.
        if (delivered_ > request.plaintextConsumed || !plainText_.empty() || plain_.Unread() > 0) {
            state_ = State::Closed;
            // Before the session took any reply (TLS from the first byte) plain text means a server that
            // does not speak TLS on this port, whichever came first, its greeting or this call.
            if (request.plaintextConsumed == 0) return {NotTlsText, {}};
            return {"The server sent unencrypted data after agreeing to encrypt the connection; nothing was "
                    "sent",
                    {}};
        }
        state_ = State::Handshaking;
    }
    TlsResult result;
    result.failure = Handshake(request, result.question);
    {
        std::lock_guard lock(receiveMutex_);
        // From the handshake straight to the records, to the user's decision, or to nothing: never back
        // to the clear.
        state_ = !result.failure.empty() ? State::Closed
                 : result.question       ? State::Undecided
                                         : State::Encrypted;
    }
    if (result.failure.empty() && !result.question) PostReadEvent();
    return result;
}

bool TlsConnection::TrustCertificate() {
    {
        std::lock_guard lock(receiveMutex_);
        if (state_.load() != State::Undecided) return false;
        state_ = State::Encrypted;
    }
    // The greeting (with TLS from the first byte) may have come with the end of the handshake, or while
    // the certificate was decided on: its data event then read nothing, and the socket raises no other
    // until it is read. Either way the session must look once more.
    PostReadEvent();
    return true;
}

std::string TlsConnection::Handshake(const TlsRequest& request, std::optional<CertificateReport>& question) {
    const DWORD deadline = GetTickCount() + HandshakeLimitMs;
    const std::atomic<bool>* cancel = request.cancel;
    const auto limits = [&] {
        const LONG left = static_cast<LONG>(deadline - GetTickCount());
        return WriteLimits{cancel, std::chrono::milliseconds(std::max<LONG>(left, 0)), nullptr};
    };

    // TLS from the first byte: the connect started by Connect must have completed first.
    for (;;) {
        if ((cancel && cancel->load()) || Expired(deadline))
            return "The connection to the server was not made";
        const int handle = plain_.SocketHandle();
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

    SECURITY_STATUS status;
    TimeStamp expiry;
    {
        std::lock_guard lock(sspi_);
        SCHANNEL_CRED schannel{};
        schannel.dwVersion = SCHANNEL_CRED_VERSION;
        schannel.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        // The certificate is checked by this program, whatever the system would do with it.
        schannel.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        status = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                           nullptr, &schannel, nullptr, nullptr, &credentials_, &expiry);
        if (status != SEC_E_OK) return SecurityErrorText("AcquireCredentialsHandle", status);
        haveCredentials_ = true;
    }

    std::string target = request.serverName; // sent as SNI
    std::vector<char> input;
    bool first = true;
    DWORD flags = ContextFlags;
    ULONG attributes = 0;
    for (;;) {
        if (cancel && cancel->load()) return "The encrypted connection was cancelled";
        SecBuffer inBuffers[2] = {{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN, input.data()},
                                  {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDescription{SECBUFFER_VERSION, 2, inBuffers};
        ContextBuffer token;
        SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &token.buffer};
        {
            std::lock_guard lock(sspi_);
            status = InitializeSecurityContextA(&credentials_, first ? nullptr : &context_, target.data(),
                                                flags, 0, 0, first ? nullptr : &inDescription, 0,
                                                first ? &context_ : nullptr, &outDescription, &attributes,
                                                &expiry);
            if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) haveContext_ = true;
        }
        first = false;

        if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
            // The server asks for a client certificate: go on without one, with the same input, which
            // this call has not consumed.
            flags |= ISC_REQ_USE_SUPPLIED_CREDS;
            continue;
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            // Nothing was consumed: read more behind what we have.
        } else {
            if (token.buffer.cbBuffer > 0 && token.buffer.pvBuffer) {
                const std::string_view bytes(static_cast<const char*>(token.buffer.pvBuffer),
                                             token.buffer.cbBuffer);
                if (!WriteAll(plain_, bytes, limits()).Ok())
                    return "The connection to the server broke during the encrypted handshake";
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
                return SecurityErrorText("The handshake", status);
            // What the server sent beyond this step belongs to the next one (or, at the end, to the records).
            if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer > 0) {
                input.erase(input.begin(), input.end() - inBuffers[1].cbBuffer);
            } else {
                input.clear();
            }
            if (status == SEC_E_OK) break;
            if (!input.empty()) continue;
        }
        if (!WaitReadable(cancel, deadline))
            return cancel && cancel->load() ? "The encrypted connection was cancelled"
                                            : "The server did not finish the encrypted handshake in time";
        char chunk[ReadChunk];
        const int got = recv(static_cast<SOCKET>(plain_.SocketHandle()), chunk, sizeof chunk, 0);
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

    if ((attributes & RequiredAttributes) != RequiredAttributes) return WeakContextText;
    {
        std::lock_guard lock(sspi_);
        status = QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    }
    if (status != SEC_E_OK) return SecurityErrorText("QueryContextAttributes", status);
    CertificateReport report;
    if (std::string problem = CheckCertificate(request.serverName, report); !problem.empty()) return problem;
    // The user decides on it with no lock held: the stream waits meanwhile, nothing read or written.
    if (!report.trusted) question = std::move(report);

    std::lock_guard lock(receiveMutex_);
    received_ = std::move(input);
    return {};
}

std::string TlsConnection::CheckCertificate(const std::string& serverName, CertificateReport& report) {
    PCCERT_CONTEXT raw = nullptr;
    SECURITY_STATUS status;
    {
        std::lock_guard lock(sspi_);
        status = QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &raw);
    }
    if (status != SEC_E_OK || !raw) return "The server sent no certificate";
    struct Free {
        void operator()(PCCERT_CONTEXT c) const noexcept { CertFreeCertificateContext(c); }
    };
    std::unique_ptr<const CERT_CONTEXT, Free> certificate(raw);
    report = CheckServerCertificate(certificate.get(), serverName, SystemChain());
    return {};
}

int TlsConnection::Receive(char* buffer, int length) {
    std::lock_guard lock(receiveMutex_);
    if (length <= 0) return 0;
    const State state = state_.load();
    if (state == State::Plain) {
        const int got = plain_.Receive(buffer, length);
        // The flow hands the session the text up to the first zero byte.
        if (got > 0) delivered_ += strnlen(buffer, static_cast<std::size_t>(got));
        return got;
    }
    // During the handshake its own reads take what comes; after a failed one nothing is read at all.
    if (state == State::Handshaking || state == State::Undecided ||
        (state == State::Closed && plainText_.empty()))
        return 0;
    if (state == State::Encrypted && plainText_.size() < static_cast<std::size_t>(length)) {
        char chunk[ReadChunk];
        const int got = recv(static_cast<SOCKET>(plain_.SocketHandle()), chunk, sizeof chunk, 0);
        if (got > 0) received_.insert(received_.end(), chunk, chunk + got);
        bool closing = false;
        if (!DecryptReceived(closing)) {
            state_ = State::Closed;
            plain_.Report(WSAECONNABORTED);
        } else if (closing) {
            state_ = State::Closed;
            AnswerCloseNotify();
        }
    }
    const std::size_t take = std::min(plainText_.size(), static_cast<std::size_t>(length));
    std::memcpy(buffer, plainText_.data(), take);
    // The decrypted text must not linger in memory once it has been handed on.
    WipeBytes(plainText_.data(), take);
    plainText_.erase(0, take);
    // What is left is asked for by another data event, as the socket would raise for unread bytes.
    if (!plainText_.empty()) PostReadEvent();
    return static_cast<int>(take);
}

bool TlsConnection::DecryptReceived(bool& closing) {
    std::lock_guard lock(sspi_);
    if (!haveContext_) return false;
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
        if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED) return false;
        if (status == SEC_I_CONTEXT_EXPIRED || alert) {
            // The server's close_notify: the socket's own close event ends the send.
            closing = true;
            received_.clear();
            return true;
        }
        std::size_t extra = 0;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0)
                plainText_.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            if (b.BufferType == SECBUFFER_EXTRA) extra = b.cbBuffer;
        }
        received_.erase(received_.begin(), received_.end() - static_cast<std::ptrdiff_t>(extra));
    }
    return true;
}

void TlsConnection::AnswerCloseNotify() {
    // A TLS server that closes waits for our close_notify before it closes the connection itself. A
    // writer in the middle of its records keeps the wire: the alert is left out then.
    std::unique_lock wire(writeMutex_, std::try_to_lock);
    std::vector<char> alert;
    {
        std::lock_guard lock(sspi_);
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc controlDescription{SECBUFFER_VERSION, 1, &control};
        if (wire.owns_lock() && haveContext_ &&
            ApplyControlToken(&context_, &controlDescription) == SEC_E_OK) {
            ContextBuffer token;
            SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &token.buffer};
            ULONG attributes = 0;
            TimeStamp expiry;
            const SECURITY_STATUS status =
                InitializeSecurityContextA(&credentials_, &context_, nullptr, ContextFlags, 0, 0, nullptr, 0,
                                           nullptr, &outDescription, &attributes, &expiry);
            if ((status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) && token.buffer.cbBuffer > 0) {
                const char* bytes = static_cast<const char*>(token.buffer.pvBuffer);
                alert.assign(bytes, bytes + token.buffer.cbBuffer);
            }
        }
    }
    if (!alert.empty()) plain_.RawSend(alert.data(), alert.size());
    // Our end of the stream ends here too, also where the system cannot make the alert.
    if (wire.owns_lock()) shutdown(static_cast<SOCKET>(plain_.SocketHandle()), 1);
}

void TlsConnection::PostReadEvent() {
    const HWND window = plain_.Socket().Handle();
    const int handle = plain_.SocketHandle();
    if (window && handle != -1)
        PostMessageW(window, ui::WM_SOCKET_NOTIFY, static_cast<WPARAM>(handle),
                     WSAMAKESELECTREPLY(FD_READ, 0));
}

} // namespace tarvel
