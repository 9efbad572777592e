"""Sending after a sign-in with OAuth 2.0, as a user meets it: the real tarvel.exe, set up in zembrix.ini for
provider Other, signs in at the test authorization server (tests/support/oauth_server.py, https://localhost, its
CA in the prefix's root store) through Wine's browser hook, which runs the stand-in browser
(tests/support/browser.py), then logs on to Postfix, whose Dovecot asks that server about each token."""

import json
import os
import re
import secrets
import time
import urllib.parse
from pathlib import Path

import pytest

import expected
from harness import CANCELLED, MAIN, SENT, Main, config, files_holding, reg
from submission_servers import relayed

from oauth_server import CLIENT_ID, SCOPE, AuthorizationServer  # tests/support, on the path through harness
import browser

ME = "me@example.com"
SERVER = "127.0.0.1"
WAITING = "Waiting for sign-in in your browser..."
RENEWING = "Renewing sign-in..."
SIGNED_IN_PAGE = "Tarvel Pro is signed in; you may close this tab"
WRONG_STATE = "The browser's answer did not belong to this sign-in (wrong state); nothing was stored"
REFUSED = "The sign-in was refused: access_denied (The user said no)"
TIMED_OUT = "The sign-in was not completed in the browser within the time allowed"
UNTRUSTED = "could not reach localhost: the secure connection failed"
AUTH_FAILED = "535 5.7.8 Error: authentication failed"
BROWSER_KEY = r"HKCU\Software\Wine\WineBrowser"
# The program's sign-in waits five minutes for the browser; the no-answer case shortens that through this.
WAIT_LIMIT_VARIABLE = "TARVEL_SIGN_IN_WAIT_MS"


class Case:
    """One test's user (and so its own Credential Manager entries), its program runs and what its browser saw."""

    def __init__(self, postfix, drive, start, program_dir, folder):
        self.postfix, self.auth, self.drive, self._start, self.program_dir = (postfix, postfix.auth, drive, start,
                                                                              program_dir)
        self.folder, self.log = folder, folder / "browser.log"
        self.user = f"oauth-{secrets.token_hex(4)}"
        self.target = f"Tarvel Pro/oauth2/{self.user}@localhost"
        self.tokens_before = len(self.auth.seen("/token"))
        self.program = None

    def start(self, service="starttls", auth=None, env=None):
        """Sets the program up for one Postfix service and one authorization server, hooks the stand-in browser
        (trusting that server's CA) into Wine and starts the program in the tray, its window shown."""
        auth = auth or self.auth
        (self.program_dir / "zembrix.ini").write_bytes(
            (f"[Security]\r\nMode=STARTTLS\r\nUser={self.user}\r\nLogOn=OAuth2\r\n"
             f"[OAuth2]\r\nProvider=Other\r\nClientId={CLIENT_ID}\r\nAuthorizeUrl={auth.authorize_url}\r\n"
             f"TokenUrl={auth.token_url}\r\nScope={SCOPE}\r\n"
             f"[Trusted]\r\n{SERVER}={self.postfix.sha256}\r\n").encode())
        hook = browser.wrapper(str(self.folder), auth.ca_pem, str(self.log))
        assert reg("add", BROWSER_KEY, "/v", "Browsers", "/d", hook, "/f")[0] == 0
        if self.program:
            self.program.kill()
            self.drive.wait_gone(MAIN)
        self.program = self._start(config(server=SERVER, port=self.postfix.ports[service], email=ME), env)

    def compose(self, subject):
        self.drive.compose(email="bob@example.com", subject=subject, body="First line\r\n.second\r\nlast")

    def send(self, subject, hold=None, until=None):
        """Sends one message; with `hold` ("/authorize" or "/token") that server path waits until the status
        `until` has been seen, so a passing status is checked without racing it."""
        self.compose(subject)
        if hold:
            self.auth.gates[hold].clear()
        self.drive("press", MAIN, Main.SEND)
        if hold:
            self.drive.wait_text(MAIN, Main.STATUS, until, timeout=30)
            self.auth.gates[hold].set()
        return self.drive.wait_outcome(timeout=90)

    def visits(self):
        """What the stand-in browser saw, one record per time the program opened it."""
        return [json.loads(line) for line in self.log.read_text().splitlines()] if self.log.exists() else []

    def grants(self, auth=None):
        """The grant types asked of the token endpoint since the test began."""
        auth = auth or self.auth
        asked = auth.seen("/token")[self.tokens_before if auth is self.auth else 0:]
        return [p.get("grant_type") for p in asked]

    def stored(self, part=1):
        target = self.target if part == 1 else f"{self.target}#{part}"
        return self.drive("credential", target) == "1"


@pytest.fixture
def case(oauth_postfix, drive, tray_program, program_dir, tmp_path):
    """The test's Case, the authorization server's CA trusted in the prefix; afterwards the server's knobs, the
    browser hook, the CA and the test's credential entries are gone again."""
    auth = oauth_postfix.auth
    one = Case(oauth_postfix, drive, lambda cfg, env: tray_program(cfg, env=env), program_dir, tmp_path)
    auth.reset(one.user)
    drive("rootca", "add", auth.ca_der)
    yield one
    auth.reset("nobody")
    for part in (1, 2, 3):
        drive("forget", one.target if part == 1 else f"{one.target}#{part}", check=False)
    reg("delete", BROWSER_KEY, "/v", "Browsers", "/f")
    drive("rootca", "remove", auth.ca_der, check=False)


def assert_delivered(case, subject, mechanism):
    assert f"sasl_method={mechanism}, sasl_username={case.user}" in case.postfix.log(), case.postfix.log()
    assert expected.unstamped(relayed(case.postfix.mailbox, subject)) == expected.stored(
        expected.message(" <bob@example.com>", ME, subject, ["First line", ".second", "last"]))


@pytest.mark.parametrize("service,mechanism,token_length", [
    ("starttls", "OAUTHBEARER", 40),
    ("xoauth2", "XOAUTH2", 40),
    # An AUTH line past Postfix's 2,048 octets is cut: the token is taken only when it comes after the 334.
    # The refresh token is as long, so it is kept in two Credential Manager entries.
    ("starttls", "OAUTHBEARER", 3000),
])
def test_first_sign_in_then_delivery(case, service, mechanism, token_length):
    case.auth.token_length = token_length
    case.start(service)
    subject = f"Signed in {service} {token_length} {secrets.token_hex(3)}"
    assert case.send(subject, hold="/authorize", until=WAITING) == SENT, case.postfix.log()
    assert_delivered(case, subject, mechanism)
    [visit] = case.visits()
    assert visit["page"][0] == 200 and SIGNED_IN_PAGE in visit["page"][1], visit
    asked = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(visit["url"]).query))
    assert re.fullmatch(r"http://127\.0\.0\.1:\d+/", asked.pop("redirect_uri")), visit
    assert len(asked.pop("state")) >= 16 and re.fullmatch(r"[A-Za-z0-9_-]{43}", asked.pop("code_challenge"))
    assert asked == dict(response_type="code", client_id=CLIENT_ID, scope=SCOPE, code_challenge_method="S256",
                         login_hint=case.user)
    assert case.grants() == ["authorization_code"]
    assert case.stored() and case.stored(2) == (token_length > 2560)
    # The next send of the same run takes the access token kept in memory: no browser, no token request.
    again = subject + " again"
    assert case.send(again) == SENT
    assert_delivered(case, again, mechanism)
    assert len(case.visits()) == 1 and case.grants() == ["authorization_code"]


def test_short_lived_token_is_renewed_and_the_rotated_refresh_token_kept(case):
    case.auth.lifetime = 30  # under the program's minute: the next send renews first
    case.start()
    assert case.send("Short-lived first") == SENT
    assert case.send("Short-lived renewed", hold="/token", until=RENEWING) == SENT
    assert case.grants() == ["authorization_code", "refresh_token"]
    # A new run has no access token: it renews with what it stored, which works only if that is the rotated
    # refresh token (the first one was spent by the renewal).
    case.auth.lifetime = 3600
    case.start()
    assert case.send("Short-lived new run") == SENT
    assert case.grants() == ["authorization_code", "refresh_token", "refresh_token"]
    assert len(case.visits()) == 1
    assert_delivered(case, "Short-lived new run", "OAUTHBEARER")


def test_revoked_refresh_token_leads_to_the_browser_once_more(case):
    case.start()
    assert case.send("Before the revocation") == SENT
    case.auth.revoke()
    case.start()
    assert case.send("After the revocation") == SENT
    # The renewal's invalid_grant deleted the stored token and started the browser again.
    assert case.grants() == ["authorization_code", "refresh_token", "authorization_code"]
    assert len(case.visits()) == 2 and case.stored()
    assert_delivered(case, "After the revocation", "OAUTHBEARER")


# The page is what the browser last got, as (HTTP status, words in it); the grants are the token requests that
# reached the authorization server. A sign-in is kept exactly when a code was exchanged.
@pytest.mark.parametrize("name,knobs,status,page,grants", [
    ("wrong state", {"answer": "wrong_state"}, WRONG_STATE, (400, WRONG_STATE), []),
    ("refused", {"answer": "access_denied"}, REFUSED, (400, REFUSED), []),
    ("no answer", {"answer": "never"}, TIMED_OUT, None, []),
    ("cancelled", {"cancel": True}, CANCELLED, None, []),
    # No request may reach a server whose certificate is not trusted.
    ("untrusted server", {"untrusted": True}, UNTRUSTED, (400, UNTRUSTED), []),
    # The sign-in works; Dovecot refuses the token for this user, also once the program has renewed it.
    ("another user", {"user": "someone-else"}, AUTH_FAILED, (200, SIGNED_IN_PAGE),
     ["authorization_code", "refresh_token"]),
])
def test_failed_sign_in_or_log_on_sends_nothing(case, tmp_path, name, knobs, status, page, grants):
    knobs, auth = dict(knobs), case.auth
    if knobs.pop("untrusted", False):
        auth = AuthorizationServer(tmp_path / "untrusted", case.user)  # a CA of its own, in no store
    cancel = knobs.pop("cancel", False)
    for knob, value in knobs.items():
        setattr(auth, knob, value)
    try:
        case.start(auth=auth, env={WAIT_LIMIT_VARIABLE: "3000"} if auth.answer == "never" else None)
        subject = f"Not sent: {name}"
        if cancel:
            case.compose(subject)
            auth.gates["/authorize"].clear()  # the browser stays at the sign-in page
            case.drive("press", MAIN, Main.SEND)
            case.drive.wait_text(MAIN, Main.STATUS, WAITING, timeout=30)
            case.drive("press", MAIN, Main.SEND)  # the Send button reads Cancel meanwhile
            shown = case.drive.wait_outcome(timeout=10)
            auth.gates["/authorize"].set()
        else:
            shown = case.send(subject)
        assert status in shown, shown
        assert case.drive.fields()["subject"] == subject, "what was typed is gone after a failed send"
        assert relayed(case.postfix.mailbox, subject, timeout=0) is None
        assert case.grants(auth) == grants
        assert case.stored() == ("authorization_code" in grants)
        if page:
            [visit] = case.visits()
            assert visit["page"][0] == page[0] and page[1] in visit["page"][1], visit
    finally:
        if auth is not case.auth:
            auth.stop()


def test_tokens_are_in_no_file_after_a_send(case):
    start = time.time() - 2
    case.start()
    assert case.send("No token in files") == SENT
    # Wine writes its registry files a while after a change: wait until they hold this test's entry.
    prefix = Path(os.environ["WINEPREFIX"])
    case.drive.wait_for(lambda: case.target.encode() in (prefix / "user.reg").read_bytes(), 40,
                        "the registry saved to user.reg")
    tokens = [t for t, grant in {**case.auth.access, **case.auth.refresh}.items() if grant["user"] == case.user]
    assert len(tokens) == 2
    forms = [t.encode(enc) for t in tokens for enc in ("utf-8", "utf-16-le")]
    assert files_holding(forms, case.program_dir, prefix, start) == []
