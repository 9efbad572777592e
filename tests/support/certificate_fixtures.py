#!/usr/bin/python3
"""Server certificates for the certificate check's table, made at each run, and the revocation servers.

    certificate_fixtures.py FOLDER

Writes DER files into FOLDER: ca.der (the test's only trusted root), inter.der (an intermediate under it),
one NAME.der per leaf below, revoked.crl (the CA's list naming the "revoked" leaf) and time.txt (the
moment to check at, in seconds since 1970). Serves on 127.0.0.1 the same list for the "revoked-url" leaf's
distribution point, and a port that takes connections and never answers for "silent-url"; "offline-url"
points at a port nobody listens on. Prints "ready", then serves until standard input closes (240 s at most).
"""
import datetime
import http.server
import ipaddress
import os
import socket
import sys
import threading

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

NOW = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
DAY = datetime.timedelta(days=1)
SERVER_AUTH = [ExtendedKeyUsageOID.SERVER_AUTH]


def name(text):
    # A new name each run, so that nothing a crashed run left in a cache stands in for it.
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "%s %s" % (text, os.urandom(4).hex()))])


def certificate(subject, key, issuer, issuer_key, ca=False, dns=(), ips=(), usage=SERVER_AUTH,
                start=NOW - DAY, end=NOW + 2 * DAY, crl_url=None, ocsp_url=None):
    b = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer).public_key(key.public_key())
         .serial_number(x509.random_serial_number()).not_valid_before(start).not_valid_after(end)
         .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if ca:
        b = b.add_extension(x509.KeyUsage(False, False, False, False, False, True, True, False, False), True)
    names = [x509.DNSName(d) for d in dns] + [x509.IPAddress(ipaddress.ip_address(i)) for i in ips]
    if names:
        b = b.add_extension(x509.SubjectAlternativeName(names), critical=False)
    if usage:
        b = b.add_extension(x509.ExtendedKeyUsage(usage), critical=False)
    if crl_url:
        point = x509.DistributionPoint([x509.UniformResourceIdentifier(crl_url)], None, None, None)
        b = b.add_extension(x509.CRLDistributionPoints([point]), critical=False)
    if ocsp_url:
        access = x509.AccessDescription(x509.oid.AuthorityInformationAccessOID.OCSP,
                                        x509.UniformResourceIdentifier(ocsp_url))
        b = b.add_extension(x509.AuthorityInformationAccess([access]), critical=False)
    return b.sign(issuer_key, hashes.SHA256())


def der(item):
    return item.public_bytes(serialization.Encoding.DER)


class Crl(http.server.BaseHTTPRequestHandler):
    body = b""

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/pkix-crl")
        self.send_header("Content-Length", str(len(self.body)))
        self.end_headers()
        self.wfile.write(self.body)

    def log_message(self, *args):
        pass


def main():
    folder = sys.argv[1]
    key = lambda: rsa.generate_private_key(public_exponent=65537, key_size=2048)  # noqa: E731
    ca_key, inter_key, leaf_key = key(), key(), key()
    ca_name = name("Tarvel test CA")
    ca = certificate(ca_name, ca_key, ca_name, ca_key, ca=True, usage=None, start=NOW - 30 * DAY, end=NOW + 30 * DAY)
    inter_name = name("Tarvel test intermediate")
    inter = certificate(inter_name, inter_key, ca_name, ca_key, ca=True, usage=None, start=NOW - 30 * DAY,
                        end=NOW + 30 * DAY)

    crl_server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Crl)
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(8)  # accepted by the kernel, never answered
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))  # bound, so that no one else takes the port, and never listening
    url = lambda s, port: "http://127.0.0.1:%d/%s.crl" % (port, s)  # noqa: E731

    def leaf(host="localhost", issuer=(ca_name, ca_key), **kwargs):
        return certificate(name(host), leaf_key, issuer[0], issuer[1], dns=[host] if host else [], **kwargs)

    self_name = name("localhost")
    leaves = {
        "good": leaf(),
        "expired": leaf(start=NOW - 10 * DAY, end=NOW - 5 * DAY),
        "future": leaf(start=NOW + 5 * DAY, end=NOW + 10 * DAY),
        "wildcard": leaf("*.example.test"),
        "address": leaf(None, ips=["127.0.0.1"]),
        "client-only": leaf(usage=[ExtendedKeyUsageOID.CLIENT_AUTH]),
        "intermediate": leaf(issuer=(inter_name, inter_key)),
        "wrong-name": leaf("wrong.example"),
        "self-signed": certificate(self_name, leaf_key, self_name, leaf_key, dns=["localhost"]),
        "revoked": leaf(),
        "revoked-url": leaf(crl_url=url("revoked", crl_server.server_address[1])),
        "offline-url": leaf(crl_url=url("offline", closed.getsockname()[1])),
        "silent-url": leaf(crl_url=url("silent", silent.getsockname()[1])),
        "silent-ocsp": leaf(ocsp_url="http://127.0.0.1:%d/" % silent.getsockname()[1]),
    }
    crl = x509.CertificateRevocationListBuilder().issuer_name(ca_name).last_update(NOW - DAY / 24)
    crl = crl.next_update(NOW + DAY)
    for revoked in ("revoked", "revoked-url"):
        crl = crl.add_revoked_certificate(x509.RevokedCertificateBuilder().serial_number(
            leaves[revoked].serial_number).revocation_date(NOW - DAY / 24).build())
    crl = crl.sign(ca_key, hashes.SHA256())
    Crl.body = der(crl)

    files = dict(leaves, ca=ca, inter=inter)
    for file_name, item in files.items():
        with open(os.path.join(folder, file_name + ".der"), "wb") as f:
            f.write(der(item))
    with open(os.path.join(folder, "revoked.crl"), "wb") as f:
        f.write(Crl.body)
    with open(os.path.join(folder, "time.txt"), "w") as f:
        f.write("%d\n" % int(NOW.timestamp()))

    threading.Thread(target=crl_server.serve_forever, daemon=True).start()
    print("ready", flush=True)
    done = threading.Event()
    threading.Thread(target=lambda: (sys.stdin.buffer.read(), done.set()), daemon=True).start()
    done.wait(240)
    crl_server.shutdown()


if __name__ == "__main__":
    main()
