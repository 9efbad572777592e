#!/usr/bin/python3
"""HTTPS servers on 127.0.0.1 for the WinHTTP client's test, with certificates made at start.

    https_servers.py FOLDER

Makes a test CA (FOLDER/ca.der, for the test to trust) and two certificates for "localhost": one signed by
it ("trusted") and one by a CA nobody trusts ("untrusted"). Each server answers a POST with 200 and the
request as it arrived ("POST /path HTTP/1.1", then the Content-Type and Accept headers, then the body,
one per line), a POST to /refuse with 400 and a JSON error, and counts the requests in FOLDER/NAME.count.
Writes FOLDER/servers.txt ("name=port" lines), prints "ready", and ends when standard input closes.
"""
import os
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
from tls_servers import context, make_ca, make_leaf  # noqa: E402


def handler_for(folder, name):
    lock = threading.Lock()

    class Echo(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_POST(self):
            with lock, open(os.path.join(folder, name + ".count"), "a") as f:
                f.write("x")
            body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            if self.path == "/refuse":
                status, answer = 400, b'{"error":"invalid_grant"}'
            else:
                lines = [self.requestline, self.headers.get("Content-Type", ""), self.headers.get("Accept", "")]
                status, answer = 200, ("\n".join(lines) + "\n").encode() + body
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)

        def log_message(self, *args):
            pass

    return Echo


def serve(folder, name, cert_key):
    server = ThreadingHTTPServer(("127.0.0.1", 0), handler_for(folder, name))
    server.socket = context(cert_key).wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    folder = sys.argv[1]
    ca = make_ca(folder, "ca")
    with open(ca[1]) as f, open(os.path.join(folder, "ca.der"), "wb") as out:
        out.write(ssl.PEM_cert_to_DER_cert(f.read()))
    servers = {
        "trusted": serve(folder, "trusted", make_leaf(folder, "trusted", "localhost", ca)),
        "untrusted": serve(folder, "untrusted", make_leaf(folder, "untrusted", "localhost",
                                                          make_ca(folder, "other-ca"))),
    }
    with open(os.path.join(folder, "servers.txt"), "w") as f:
        f.writelines("%s=%d\n" % (name, s.server_address[1]) for name, s in servers.items())
    print("ready", flush=True)
    sys.stdin.buffer.read()
    for server in servers.values():
        server.shutdown()


if __name__ == "__main__":
    main()
