"""A real submission server for the end-to-end suite: a private Postfix instance with Dovecot for the log-on,
on free ports of 127.0.0.1, with a certificate made for the run. Postfix relays whatever it accepts to a
capture server given by the caller, and logs to a file of its own, so a test can see both what arrived and
what the client said. Needs root (Postfix's master and Dovecot set their own users) and Debian's postfix and
dovecot-core; anything missing or failing ends in SubmissionServerError with the reason, never a hang."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from harness import ROOT, free_port

sys.path.insert(0, str(ROOT / "tests" / "support"))
from tls_servers import fingerprint, make_ca, make_leaf  # noqa: E402  (the TLS tests' certificates)

POSTFIX = "/usr/sbin/postfix"
DOVECOT = "/usr/sbin/dovecot"
# How long a start or stop may take before the run is given up: Postfix starts in about a second.
LIMIT = 30

# Postfix's own services, none of them chrooted (a chroot would need copies of /etc files in the queue).
SERVICES = """\
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
smtp      unix  -       -       n       -       -       smtp
relay     unix  -       -       n       -       -       smtp
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
"""


class SubmissionServerError(Exception):
    pass


def _run(*args, timeout=LIMIT):
    try:
        result = subprocess.run(list(args), stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    except FileNotFoundError:
        raise SubmissionServerError(f"{args[0]} is not installed (Debian packages postfix and dovecot-core; "
                                    "scripts/setup.sh installs them)") from None
    except subprocess.TimeoutExpired:
        raise SubmissionServerError(f"{' '.join(args)} did not end within {timeout} s") from None
    return result.returncode, (result.stdout + result.stderr).decode("utf-8", "replace")


class SubmissionServers:
    """Postfix on three ports of 127.0.0.1, log-on through Dovecot for the two encrypted ones:
      starttls  STARTTLS required before anything else, then AUTH PLAIN/LOGIN (port 587's kind)
      implicit  TLS from the first byte, then AUTH (port 465's kind)
      plain     no STARTTLS and no AUTH at all
    `users` maps user names to passwords. Accepted mail goes to 127.0.0.1:`relay_port`. With smtputf8=True
    Postfix offers SMTPUTF8 and the plain service relays for 127.0.0.1 without a log-on."""

    NAMES = ("starttls", "implicit", "plain")

    def __init__(self, users, relay_port, smtputf8=False):
        if os.geteuid() != 0:
            raise SubmissionServerError("Postfix and Dovecot need root to run their own instance")
        for program in (POSTFIX, DOVECOT, "/usr/lib/postfix/sbin/master"):
            if not os.path.exists(program):
                raise SubmissionServerError(f"{program} is missing (Debian packages postfix and dovecot-core; "
                                            "scripts/setup.sh installs them)")
        # Postfix's daemons and Dovecot's auth process drop to their own users: they must reach these files.
        self.folder = Path(tempfile.mkdtemp(prefix="tarvel-postfix-"))
        self.folder.chmod(0o755)
        self.config = self.folder / "postfix"
        self.queue = self.folder / "queue"
        self.maillog = self.folder / "maillog"
        self.dovecot = None
        self.master_pid = None
        self.ports = {}
        self.smtputf8 = smtputf8
        try:
            self._certificate()
            self._dovecot(users)
            self._postfix(relay_port)
        except BaseException:
            self.stop()
            raise

    def _certificate(self):
        folder = str(self.folder)
        ca = make_ca(folder, "ca")
        # Postfix reads its key as root, before it drops privileges.
        self.cert, self.key = make_leaf(folder, "server", "localhost", ca)
        self.sha256 = fingerprint(self.cert)

    def _dovecot(self, users):
        (self.folder / "users").write_text("".join(f"{name}:{{PLAIN}}{password}::::::\n"
                                                   for name, password in users.items()))
        self.queue.mkdir(mode=0o755)
        (self.queue / "private").mkdir(mode=0o700)
        shutil.chown(self.queue / "private", "postfix")
        self.auth_socket = self.queue / "private" / "auth"
        conf = self.folder / "dovecot.conf"
        conf.write_text(f"""\
base_dir = {self.folder}/dovecot-run
state_dir = {self.folder}/dovecot-state
instance_name = tarvel-test-{os.getpid()}
log_path = {self.folder}/dovecot.log
protocols =
ssl = no
# Postfix has the TLS; Dovecot only checks the password it is handed.
disable_plaintext_auth = no
auth_mechanisms = plain login
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {self.folder}/users
}}
userdb {{
  driver = static
  args = uid=nobody gid=nogroup home=/nonexistent
}}
service auth {{
  unix_listener {self.auth_socket} {{
    user = postfix
    group = postfix
    mode = 0660
  }}
}}
""")
        (self.folder / "dovecot-state").mkdir()
        self.dovecot = subprocess.Popen([DOVECOT, "-F", "-c", str(conf)], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=open(self.folder / "dovecot.err", "wb"),
                                        start_new_session=True)
        end = time.monotonic() + LIMIT
        while not self.auth_socket.exists():
            if self.dovecot.poll() is not None or time.monotonic() > end:
                raise SubmissionServerError("Dovecot did not start: " + self._tail("dovecot.err", "dovecot.log"))
            time.sleep(0.05)

    def _postfix(self, relay_port):
        self.config.mkdir()
        (self.config / "main.cf").write_text(f"""\
compatibility_level = 3.6
queue_directory = {self.queue}
data_directory = {self.folder}/data
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
shlib_directory = /usr/lib/postfix
meta_directory = /etc/postfix
mail_owner = postfix
setgid_group = postdrop
maillog_file = {self.maillog}
maillog_file_prefixes = {self.folder}
myhostname = submission.tarvel.test
mydestination =
inet_interfaces = loopback-only
inet_protocols = ipv4
alias_maps =
alias_database =
biff = no
# Everything goes on to the test's capture; nothing is looked up in the DNS.
relayhost = [127.0.0.1]:{relay_port}
smtp_dns_support_level = disabled
smtp_host_lookup = native
smtp_tls_security_level = none
smtpd_relay_restrictions = permit_sasl_authenticated, reject
# The message as the client wrote it: no headers added to it or rewritten, except the Received line.
local_header_rewrite_clients =
smtputf8_enable = {"yes" if self.smtputf8 else "no"}
""")
        for attempt in range(3):
            self.ports = {name: free_port() for name in self.NAMES}
            (self.config / "master.cf").write_text(SERVICES + self._submission())
            # Checks the configuration, makes the queue's folders and returns once the master is ready.
            code, out = _run(POSTFIX, "-c", str(self.config), "start")
            pid_file = self.queue / "pid" / "master.pid"
            if code == 0 and pid_file.exists():
                self.master_pid = int(pid_file.read_text().split()[0])
                return
            # A port taken between choosing it and binding it: choose again.
            if "Address already in use" not in out + self._tail("maillog"):
                break
        raise SubmissionServerError("postfix did not start: " + out.strip() + "\n" + self._tail("maillog"))

    def _submission(self):
        common = ["smtpd_peername_lookup=no"]
        log_on = ["smtpd_sasl_auth_enable=yes", "smtpd_sasl_type=dovecot", "smtpd_sasl_path=private/auth",
                  f"smtpd_tls_cert_file={self.cert}", f"smtpd_tls_key_file={self.key}",
                  "smtpd_tls_security_level=encrypt", "smtpd_tls_auth_only=yes"]
        services = {
            "starttls": log_on,
            "implicit": log_on + ["smtpd_tls_wrappermode=yes"],
            "plain": ["smtpd_tls_security_level=none", "smtpd_sasl_auth_enable=no"],
        }
        if self.smtputf8:
            services["plain"] += ["mynetworks=127.0.0.0/8", "smtpd_relay_restrictions=permit_mynetworks,reject"]
        text = ""
        for name, options in services.items():
            text += f"127.0.0.1:{self.ports[name]} inet n - n - - smtpd\n"
            for option in [f"syslog_name=postfix/{name}"] + common + options:
                text += f"  -o {option}\n"
        return text

    def _tail(self, *names):
        out = []
        for name in names:
            path = self.folder / name
            if path.exists():
                out += path.read_text("utf-8", "replace").splitlines()[-20:]
        return "\n".join(out)

    def log(self):
        """What Postfix has logged so far."""
        return self.maillog.read_text("utf-8", "replace") if self.maillog.exists() else ""

    def sessions(self, name):
        """The commands of each finished connection to one service, from Postfix's summary lines: e.g.
        {"ehlo": 2, "starttls": 1, "auth": 1, "mail": 1, ...} (a failed command counts as "0/1")."""
        pattern = re.compile(rf"postfix/{name}/smtpd\[\d+\]: disconnect from \S+ (.*)$")
        out = []
        for line in self.log().splitlines():
            match = pattern.search(line)
            if match:
                out.append(dict(item.split("=", 1) for item in match.group(1).split() if "=" in item))
        return out

    def stop(self):
        # Both are told first and waited for after, as each takes about a second to wind down.
        if self.dovecot:
            self.dovecot.terminate()
        if self.master_pid:
            # What "postfix stop" does, without its one-second pauses: the master takes its daemons along.
            try:
                os.kill(self.master_pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            self._wait_gone(self.master_pid)
            self.master_pid = None
        if self.dovecot:
            try:
                self.dovecot.wait(LIMIT)
            except subprocess.TimeoutExpired:
                os.killpg(self.dovecot.pid, signal.SIGKILL)
                self.dovecot.wait()
            self.dovecot = None
        shutil.rmtree(self.folder, ignore_errors=True)

    @staticmethod
    def _wait_gone(group):
        """Waits until no process of the master's group (it leads one, with its daemons) is left."""
        end = time.monotonic() + LIMIT
        while time.monotonic() < end:
            try:
                os.killpg(group, 0)
            except ProcessLookupError:
                return
            time.sleep(0.05)
        try:
            os.killpg(group, signal.SIGKILL)
        except ProcessLookupError:
            pass
