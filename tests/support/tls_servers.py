#!/usr/bin/python3
"""SMTP servers with TLS on 127.0.0.1 for the secure delivery test, with certificates made at start.

    tls_servers.py FOLDER

Makes with openssl, in FOLDER: a test CA (ca.der, for the test to trust), a certificate for "localhost"
signed by it, one for "wrong.example" signed by it, and two for "localhost" signed by a CA nobody
trusts (the CAs' names are new each run, so that one left in a store by a crash never stands in for
them). Then serves (aiosmtpd, log-on ann / "s3cret pass", never over plain text):
  starttls  STARTTLS required, the good certificate     implicit  TLS from the first byte, the same
  plain     no STARTTLS at all                          unknown   STARTTLS, the first untrusted one
  changed   STARTTLS, the second untrusted one          wrong     STARTTLS, the wrong name
  late      TLS from the first byte, the first untrusted one, and a greeting that comes a moment after the
            handshake rather than with its last records (as Postfix's does)
  clientcert  STARTTLS, the good certificate, and a request for a client certificate (which the
            program has none of: it goes on without)
  early     STARTTLS, the good certificate, no log-on: after the 354 it reads 1 MiB of the message, then
            refuses it through TLS ("554 5.7.0 early refusal"), writes bytes that are no TLS record, and
            reads on until the client closes; any number of connections, one after the other
Writes FOLDER/servers.txt ("name=port" lines, then "unknown-sha256=..." and "changed-sha256=...")
and prints "ready". Accepted messages are stored as in aiosmtpd_capture.py. Ends when standard input
closes or after 600 s.
"""
import asyncio
import hashlib
import os
import ssl
import subprocess
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from aiosmtpd_capture import Capture, free_port  # noqa: E402

USER = b"ann"
PASSWORD = b"s3cret pass"


def openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_ca(folder, name):
    key, cert = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
            "-subj", "/CN=Tarvel test %s %s" % (name, os.urandom(4).hex()), "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return key, cert


def make_leaf(folder, name, host, ca):
    key, csr, cert = (os.path.join(folder, name + ext) for ext in (".key", ".csr", ".pem"))
    ext = os.path.join(folder, name + ".ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n" % host)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=" + host)
    openssl("x509", "-req", "-in", csr, "-CA", ca[1], "-CAkey", ca[0], "-CAcreateserial", "-out", cert,
            "-days", "2", "-extfile", ext)
    return cert, key


def fingerprint(cert):
    with open(cert) as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    return hashlib.sha256(der).hexdigest()


def context(cert_key):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(*cert_key)
    return ctx


def asking_client(ctx, ca):
    ctx.verify_mode = ssl.CERT_OPTIONAL
    ctx.load_verify_locations(ca[1])
    return ctx


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data.login == USER and auth_data.password == PASSWORD
    # handled=False: aiosmtpd then answers a failure with its 535 itself.
    return AuthResult(success=ok, handled=False)


class LateGreeting(SMTP):
    async def _handle_client(self):
        await asyncio.sleep(0.1)
        await super()._handle_client()


class LateController(Controller):
    def factory(self):
        return LateGreeting(self.handler, **self.SMTP_kwargs)


EARLY_REFUSAL = b"554 5.7.0 early refusal\r\n"


def early_session(connection, ctx):
    """One connection of the "early" server: the exchange up to DATA, then a reply and garbage mid-message."""
    def line(stream):
        data = b""
        while not data.endswith(b"\n"):
            chunk = stream.recv(1)
            if not chunk:
                raise ConnectionError("closed")
            data += chunk
        return data

    try:
        connection.sendall(b"220 early ESMTP\r\n")
        line(connection)
        connection.sendall(b"250-early\r\n250 STARTTLS\r\n")
        line(connection)
        connection.sendall(b"220 go ahead\r\n")
        tls = ctx.wrap_socket(connection, server_side=True)
        for answer in (b"250-early\r\n250 8BITMIME\r\n", b"250 ok\r\n", b"250 ok\r\n", b"354 go\r\n"):
            line(tls)
            tls.sendall(answer)
        taken = 0
        while taken < 1 << 20:
            chunk = tls.recv(65536)
            if not chunk:
                return
            taken += len(chunk)
        tls.sendall(EARLY_REFUSAL)
        # Bytes from anyone on the path: no TLS record, straight onto the connection.
        os.write(tls.fileno(), b"\x00garbage that is no record\r\n" * 64)
        # Reads on until the client gives up, so that only the garbage can end its send.
        while tls.recv(65536):
            pass
    except (OSError, ConnectionError, ssl.SSLError):
        pass
    finally:
        connection.close()


def start_early(cert_key):
    import socket
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    ctx = context(cert_key)

    def serve():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=early_session, args=(connection, ctx), daemon=True).start()

    threading.Thread(target=serve, daemon=True).start()
    return listener.getsockname()[1]


def start(handler, kind=Controller, **kwargs):
    for _ in range(5):
        controller = kind(handler, hostname="127.0.0.1", port=free_port(), authenticator=authenticator,
                                **kwargs)
        try:
            controller.start()
            return controller
        except Exception:
            pass
    raise SystemExit("tls_servers: no free port")


def main():
    folder = sys.argv[1]
    ca = make_ca(folder, "ca")
    other = make_ca(folder, "untrusted-ca")
    with open(ca[1]) as f, open(os.path.join(folder, "ca.der"), "wb") as out:
        out.write(ssl.PEM_cert_to_DER_cert(f.read()))
    good = make_leaf(folder, "good", "localhost", ca)
    with open(good[0]) as f, open(os.path.join(folder, "good.der"), "wb") as out:
        out.write(ssl.PEM_cert_to_DER_cert(f.read()))
    wrong = make_leaf(folder, "wrong", "wrong.example", ca)
    unknown = make_leaf(folder, "unknown", "localhost", other)
    changed = make_leaf(folder, "changed", "localhost", other)

    capture = Capture(folder)
    starttls = dict(require_starttls=True, auth_require_tls=True)
    servers = {
        "starttls": start(capture, tls_context=context(good), **starttls),
        # aiosmtpd counts only STARTTLS as encryption: here the whole connection is TLS.
        "implicit": start(capture, ssl_context=context(good), auth_require_tls=False),
        "late": start(capture, LateController, ssl_context=context(unknown), auth_require_tls=False),
        "plain": start(capture),
        "clientcert": start(capture, tls_context=asking_client(context(good), ca), **starttls),
        "unknown": start(capture, tls_context=context(unknown), **starttls),
        "changed": start(capture, tls_context=context(changed), **starttls),
        "wrong": start(capture, tls_context=context(wrong), **starttls),
    }
    lines = ["%s=%d\n" % (name, c.port) for name, c in servers.items()]
    lines.append("early=%d\n" % start_early(good))
    lines += ["unknown-sha256=%s\n" % fingerprint(unknown[0]), "changed-sha256=%s\n" % fingerprint(changed[0])]
    with open(os.path.join(folder, "servers.txt"), "w") as f:
        f.writelines(lines)
    print("ready", flush=True)

    stdin_closed = threading.Event()

    def watch_stdin():
        sys.stdin.buffer.read()
        stdin_closed.set()

    threading.Thread(target=watch_stdin, daemon=True).start()
    stdin_closed.wait(600)
    for controller in servers.values():
        controller.stop()


if __name__ == "__main__":
    main()
