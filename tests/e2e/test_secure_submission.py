"""Secure submission to a real Postfix with a Dovecot log-on, set up as a user does it: the Security page of the
settings (connection security, user name, password into Credential Manager), then Send. The server's
certificate is trusted by its fingerprint in zembrix.ini beforehand, so no trust question comes up here."""

import os
import secrets
import time
from pathlib import Path

import pytest

import expected
from harness import MAIN, MENU_PROPERTIES, SENT, SETTINGS, Mailbox, Main, Settings, config, files_holding
from submission_servers import SubmissionServerError, SubmissionServers, relayed

ME = "me@example.com"
SERVER = "127.0.0.1"
PASSWORD = "Pf3-s3cret pass"
NO_STARTTLS = "The server does not offer an encrypted connection (STARTTLS)"
VK_LEFT, VK_RIGHT = 0x25, 0x27
SECURITY_PAGE = 2

# Each test logs on with a user of its own, so its Credential Manager entry is its own too.
USERS = ("starttls", "ssl-tls", "wrong-password", "no-starttls", "password-files")


@pytest.fixture(scope="module")
def postfix(tmp_path_factory):
    """One Postfix and Dovecot for the module (a start takes about a second), relaying to a capture."""
    token = secrets.token_hex(4)
    mailbox = Mailbox(tmp_path_factory.mktemp("relayed"))
    try:
        servers = SubmissionServers({f"{user}-{token}": PASSWORD for user in USERS}, mailbox.port)
    except SubmissionServerError as e:
        mailbox.stop()
        pytest.fail(f"the Postfix submission server could not be started: {e}", pytrace=False)
    servers.token, servers.mailbox = token, mailbox
    yield servers
    servers.stop()
    mailbox.stop()


@pytest.fixture
def forget(drive):
    """forget(target): the Credential Manager entry is removed when the test ends, however it ends."""
    targets = []
    yield targets.append
    for target in targets:
        drive("forget", target, check=False)


def user_of(postfix, name):
    return f"{name}-{postfix.token}"


def target_of(user):
    return f"Tarvel Pro/smtp/{user}@{SERVER}"


def trusted_ini(postfix):
    return f"[Trusted]\r\n{SERVER}={postfix.sha256}\r\n".encode()


def press(drive, key, times):
    for _ in range(times):
        drive("key", SETTINGS, Settings.PAGES, key)


def secure_settings(drive, mode, port, user, password):
    """Opens the settings from the tray menu and sets the connection as a user would: the Security page first
    (which offers the usual port), then the server's real port on the first page, then OK."""
    drive("menu", MAIN, MENU_PROPERTIES)
    drive.wait_shown(SETTINGS)
    press(drive, VK_RIGHT, SECURITY_PAGE)
    drive.wait_for(lambda: drive("shown", SETTINGS, Settings.SECURITY) == "1", what="the Security page")
    assert drive("enabled", SETTINGS, Settings.USER) == "0", "a log-on offered without encryption"
    drive("pick", SETTINGS, Settings.SECURITY, mode)
    drive.wait_text(SETTINGS, Settings.PORT, {Settings.STARTTLS: "587", Settings.SSL_TLS: "465"}[mode])
    assert drive("enabled", SETTINGS, Settings.USER) == "1"
    drive.set_text(SETTINGS, Settings.USER, user)
    drive.set_text(SETTINGS, Settings.LOG_ON_PASSWORD, password)
    press(drive, VK_LEFT, SECURITY_PAGE)
    drive.wait_for(lambda: drive("shown", SETTINGS, Settings.PORT) == "1", what="the first page")
    drive.set_text(SETTINGS, Settings.PORT, str(port))
    drive("click", SETTINGS, Settings.OK)
    drive.wait_gone(SETTINGS)


def secure_send(postfix, tray_program, drive, forget, program_dir, name, service, mode, password):
    """Sets the program up for one Postfix service through its settings and sends one message; returns the
    final status, the subject, and Postfix's summary of the connection."""
    user = user_of(postfix, name)
    forget(target_of(user))
    (program_dir / "zembrix.ini").write_bytes(trusted_ini(postfix))
    tray_program(config(server=SERVER, port=25))
    secure_settings(drive, mode, postfix.ports[service], user, password)

    ini = (program_dir / "zembrix.ini").read_bytes()
    mode_text = {Settings.STARTTLS: "STARTTLS", Settings.SSL_TLS: "SSL/TLS"}[mode]
    assert f"Mode={mode_text}\r\n".encode() in ini and f"User={user}\r\n".encode() in ini, ini
    assert f"{SERVER}={postfix.sha256}".encode() in ini, "the trusted certificate was lost on saving"
    assert drive("credential", target_of(user)) == "1", "the password did not reach Credential Manager"

    before = len(postfix.sessions(service))
    subject = f"Secure {name} {postfix.token}"
    drive.compose(email="bob@example.com", subject=subject, body="First line\r\n.second\r\nlast")
    status = drive.send(timeout=60)
    # Postfix logs the connection's commands once the client has gone.
    drive.wait_for(lambda: len(postfix.sessions(service)) > before, 15, f"Postfix's summary of {name}")
    return status, subject, postfix.sessions(service)[before]


@pytest.mark.parametrize("name,service,mode,commands", [
    ("starttls", "starttls", Settings.STARTTLS, {"ehlo": "2", "starttls": "1", "auth": "1", "mail": "1"}),
    ("ssl-tls", "implicit", Settings.SSL_TLS, {"ehlo": "1", "auth": "1", "mail": "1"}),
])
def test_logged_on_message_arrives_byte_exact(postfix, tray_program, drive, forget, program_dir, name, service,
                                              mode, commands):
    status, subject, session = secure_send(postfix, tray_program, drive, forget, program_dir, name, service, mode,
                                           PASSWORD)
    assert status == SENT, postfix.log()
    assert {key: session.get(key) for key in commands} == commands, session
    assert f"sasl_username={user_of(postfix, name)}" in postfix.log()
    message = relayed(postfix.mailbox, subject)
    assert expected.unstamped(message) == expected.stored(expected.message(" <bob@example.com>", ME, subject,
                                                       ["First line", ".second", "last"]))


@pytest.mark.parametrize("name,service,password,status,commands", [
    # Postfix's own words for a refused log-on, after the reply code.
    ("wrong-password", "starttls", "not the password", "535 5.7.8 Error: authentication failed",
     {"starttls": "1", "auth": "0/1"}),
    # STARTTLS asked of a server that has none: nothing may go out in the clear, the log-on least of all.
    ("no-starttls", "plain", PASSWORD, NO_STARTTLS, {"starttls": None, "auth": None}),
])
def test_refused_connection_sends_nothing(postfix, tray_program, drive, forget, program_dir, name, service,
                                          password, status, commands):
    shown, subject, session = secure_send(postfix, tray_program, drive, forget, program_dir, name, service,
                                          Settings.STARTTLS, password)
    assert shown.startswith(status), shown
    assert {key: session.get(key) for key in commands} == commands, session
    assert "mail" not in session and "rcpt" not in session and "data" not in session, session
    assert drive.fields()["subject"] == subject, "what was typed is gone after a failed send"
    assert relayed(postfix.mailbox, subject, timeout=0) is None


def test_password_is_in_no_file_after_a_send(postfix, tray_program, drive, forget, program_dir):
    start = time.time() - 2
    status, _, _ = secure_send(postfix, tray_program, drive, forget, program_dir, "password-files", "starttls",
                               Settings.STARTTLS, PASSWORD)
    assert status == SENT
    # Wine writes its registry files a while after a change: wait until they hold this test's entry.
    prefix = Path(os.environ["WINEPREFIX"])
    target = target_of(user_of(postfix, "password-files")).encode()
    drive.wait_for(lambda: target in (prefix / "user.reg").read_bytes(), 40, "the registry saved to user.reg")
    forms = (PASSWORD.encode(), PASSWORD.encode("utf-16-le"))
    assert files_holding(forms, program_dir, prefix, start) == []
