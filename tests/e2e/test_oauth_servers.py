"""The sign-in tests' own parts, proved without Wine: a Python client plays the program (PKCE sign-in through the
stand-in browser against the authorization server, the token exchange, then AUTH OAUTHBEARER/XOAUTH2 through
Postfix and Dovecot). If these fail, the program's sign-in tests would fail for reasons not the program's."""

import base64
import hashlib
import json
import secrets
import select
import smtplib
import socket
import ssl
import subprocess
import urllib.parse
import urllib.request

import pytest

from harness import ROOT
from oauth_server import CLIENT_ID, SCOPE  # tests/support, on the path through harness

USER = "ann-" + secrets.token_hex(3)
BROWSER = ROOT / "tests" / "support" / "browser.py"


@pytest.fixture
def auth(oauth_postfix):
    """The authorization server with its knobs as they start, whatever the test before set."""
    oauth_postfix.auth.reset(USER)
    return oauth_postfix.auth


def post(auth, path, **form):
    request = urllib.request.Request(auth.url + path, urllib.parse.urlencode(form).encode())
    try:
        with urllib.request.urlopen(request, context=ssl.create_default_context(cafile=auth.ca_pem)) as r:
            return r.status, json.loads(r.read())
    except urllib.error.HTTPError as e:
        return e.code, json.loads(e.read())


def sign_in(auth, state=None):
    """The program's sign-in: a one-request listener on 127.0.0.1, the browser at the authorization URL, the
    code exchanged with its verifier. Returns (the request line the listener got, the browser's record, tokens)."""
    verifier = secrets.token_urlsafe(48)
    challenge = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).rstrip(b"=").decode()
    state = state or secrets.token_urlsafe(16)
    with socket.create_server(("127.0.0.1", 0)) as listener:
        redirect = f"http://127.0.0.1:{listener.getsockname()[1]}/"
        url = auth.authorize_url + "?" + urllib.parse.urlencode(dict(
            response_type="code", client_id=CLIENT_ID, redirect_uri=redirect, scope=SCOPE, state=state,
            code_challenge=challenge, code_challenge_method="S256", login_hint=USER))
        browser = subprocess.Popen(["/usr/bin/python3", str(BROWSER), auth.ca_pem, "/dev/stdout", url],
                                   stdout=subprocess.PIPE, text=True)
        line = None
        # A browser that ends without coming back (no redirect) ends the wait too.
        while line is None and browser.poll() is None:
            if select.select([listener], [], [], 0.1)[0]:
                conn, _ = listener.accept()
                with conn:
                    line = conn.makefile("rb").readline().decode()
                    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 9\r\nConnection: close\r\n\r\nsigned in")
        seen = json.loads(browser.communicate(timeout=60)[0])
    query = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(line.split(" ")[1]).query)) if line else None
    tokens = None
    if query and query.get("state") == state and "code" in query:
        tokens = post(auth, "/token", grant_type="authorization_code", code=query["code"], client_id=CLIENT_ID,
                      redirect_uri=redirect, code_verifier=verifier)[1]
    return query, seen, tokens


def initial_response(mechanism, user, token):
    if mechanism == "XOAUTH2":
        return f"user={user}\x01auth=Bearer {token}\x01\x01"
    return f"n,a={user},\x01auth=Bearer {token}\x01\x01"


def log_on(postfix, service, mechanism, user, token, inline=True):
    """AUTH as the program does it through STARTTLS; returns the offered mechanisms and every reply in order."""
    with smtplib.SMTP("localhost", postfix.ports[service], timeout=30) as smtp:
        smtp.starttls(context=ssl.create_default_context(cafile=str(postfix.folder / "ca.pem")))
        smtp.ehlo()
        offered = smtp.esmtp_features.get("auth", "").split()
        response = base64.b64encode(initial_response(mechanism, user, token).encode()).decode()
        replies = [smtp.docmd("AUTH", f"{mechanism} {response}") if inline else smtp.docmd("AUTH", mechanism)]
        if not inline and replies[-1][0] == 334:
            replies.append(smtp.docmd(response))
        if replies[-1][0] == 334:  # an error in the server's challenge: the client's part is a dummy answer
            replies.append(smtp.docmd("" if mechanism == "XOAUTH2" else "AQ=="))
        if replies[-1][0] == 235:
            smtp.sendmail(f"{user}@example.com", ["bob@example.com"], f"Subject: {user} {token[:8]}\r\n\r\nhi\r\n")
    return offered, [(code, text.decode()) for code, text in replies]


def test_sign_in_then_log_on_with_each_mechanism(oauth_postfix, auth):
    postfix, mailbox = oauth_postfix, oauth_postfix.mailbox
    query, seen, tokens = sign_in(auth)
    assert seen["page"] == [200, "signed in"] and [s[0] for s in seen["steps"]] == [302, 200], seen
    assert tokens["token_type"] == "Bearer" and tokens["expires_in"] == 3600 and tokens["refresh_token"], tokens
    login = auth.seen("/authorize")[-1]
    assert (login["code_challenge_method"], login["login_hint"]) == ("S256", USER)
    for service, mechanism, inline in (("starttls", "OAUTHBEARER", True), ("xoauth2", "XOAUTH2", True),
                                       ("starttls", "XOAUTH2", False)):
        offered, replies = log_on(postfix, service, mechanism, USER, tokens["access_token"], inline)
        assert offered == {"starttls": ["OAUTHBEARER", "XOAUTH2"], "xoauth2": ["XOAUTH2"]}[service]
        assert replies[-1][0] == 235, (service, mechanism, replies)
    assert mailbox.wait(3), postfix.log()
    # The refresh token is rotated: the new one works once, the old one never again.
    status, renewed = post(auth, "/token", grant_type="refresh_token", refresh_token=tokens["refresh_token"],
                           client_id=CLIENT_ID)
    assert status == 200 and renewed["refresh_token"] != tokens["refresh_token"], renewed
    assert post(auth, "/token", grant_type="refresh_token", refresh_token=tokens["refresh_token"],
                client_id=CLIENT_ID) == (400, {"error": "invalid_grant"})
    auth.revoke()
    assert post(auth, "/token", grant_type="refresh_token", refresh_token=renewed["refresh_token"],
                client_id=CLIENT_ID)[0] == 400


@pytest.mark.parametrize("knobs,mechanism,inline,replies", [
    # A 3,000-character token makes an AUTH line past Postfix's line limit: it goes after the 334 instead.
    ({"token_length": 3000}, "OAUTHBEARER", False, [334, 235]),
    ({"token_length": 3000}, "OAUTHBEARER", True, [535]),
    # A token that has run out or belongs to someone else: an error challenge, then Postfix's 535.
    ({"lifetime": 0}, "OAUTHBEARER", True, [334, 535]),
    ({"user": "someone-else"}, "XOAUTH2", True, [334, 535]),
])
def test_token_cases(oauth_postfix, auth, knobs, mechanism, inline, replies):
    postfix = oauth_postfix
    for name, value in knobs.items():
        setattr(auth, name, value)
    _, _, tokens = sign_in(auth)
    _, got = log_on(postfix, "starttls", mechanism, USER, tokens["access_token"], inline)
    assert [code for code, _ in got] == replies, got
    if replies[0] == 334 and replies[-1] == 535:
        assert json.loads(base64.b64decode(got[0][1]))["status"] in ("invalid_token", "401"), got
        assert got[-1][1] == "5.7.8 Error: authentication failed: (reason unavailable)"


@pytest.mark.parametrize("answer,query", [
    ("access_denied", {"error": "access_denied", "error_description": "The user said no", "state": "s1"}),
    ("wrong_state", {"state": "forgeds1"}),
    ("never", None),
])
def test_bad_answers_reach_the_listener_as_a_browser_brings_them(auth, answer, query):
    auth.answer = answer
    got, _, tokens = sign_in(auth, state="s1")
    assert (got if got is None else {k: v for k, v in got.items() if k != "code"}) == query
    assert tokens is None
