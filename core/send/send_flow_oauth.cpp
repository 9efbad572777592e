// The send flow's OAuth 2.0 steps: the access token asked for on the worker before the connect (the
// browser's time does not count toward the send's time-out), and one more try with a renewed token
// when the server refused the one it got as invalid or expired.
#include "core/send/send_flow.h"

namespace tarvel {

bool SendFlow::SignInForSend(const Job& job, unsigned send) {
    auto fail = [this](std::string_view text) {
        // Read by this thread only after the worker has posted its return (ConnectStepDone).
        messages_.front().Outcome = SendOutcome::Failure(text);
        shared_.SendAborted.store(true);
        return false;
    };
    // Neither a token nor a sign-in is of use where the log-on would never be sent.
    if (job.mode == SecurityMode::None) return fail(NoAuthWithoutTlsText);
    if (job.user.empty()) return fail(send_text::OAuthNeedsUser);
    if (job.signIn.signIn == nullptr) return fail(send_text::OAuthUnavailable);

    oauth::SignIn::Observer observer;
    observer.status = [this, send](std::string_view text) {
        post_([this, send, status = std::string(text)] {
            if (send == sendNumber_.load() && step_ != SendStep::Idle) view_.ShowStatus(status);
        });
    };
    observer.cancel = &shared_.SendAborted;
    signingIn_.store(true);
    oauth::TokenOutcome token = job.signIn.signIn->AccessToken(job.signIn.settings, job.user, observer);
    // The server's silence is counted from the connect on.
    shared_.IdleTicks.store(0);
    signingIn_.store(false);
    switch (token.end) {
    case oauth::TokenEnd::Ready:
        session_.SetSecurity(
            SessionSecurity{job.mode, job.user, Secret(std::move(token.accessToken)), LogOnMethod::OAuth2});
        return true;
    case oauth::TokenEnd::Cancelled:
        // The user's Cancel: "Mail has been cancelled!" says it.
        shared_.SendAborted.store(true);
        return false;
    case oauth::TokenEnd::Failed:
        break;
    }
    return fail(token.error);
}

bool SendFlow::RetryWithRenewedToken() {
    if (!job_.oauth || tokenRetried_ || userCancelled_ || job_.signIn.signIn == nullptr) return false;
    if (!session_.BearerTokenRefused() || messages_.front().Outcome.Accepted()) return false;
    tokenRetried_ = true;
    job_.signIn.signIn->ForgetAccessToken();
    Job again = job_;
    again.useDialup = false; // the line the send dialled is still up
    StartWorker(again);
    return true;
}

} // namespace tarvel
