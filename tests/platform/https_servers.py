#!/usr/bin/python3
"""HTTPS on 127.0.0.1 for the WinHTTP client's test: FOLDER/ca.der is a test CA, "trusted" serves a
certificate for localhost signed by it, "untrusted" one signed by a CA nobody trusts. A POST is answered with
200 and the request as it came (request line, Content-Type, Accept, then the body), a POST to /refuse with 400
and a JSON error; each server appends a line per request to FOLDER/NAME.log. Writes FOLDER/servers.txt
("name=port" lines), prints "ready", and ends when standard input closes."""
import os
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
from tls_servers import context, make_ca, make_leaf  # noqa: E402


def serve(folder, name, ca):
    class Echo(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_POST(self):
            with open(os.path.join(folder, name + ".log"), "a") as log:
                log.write(self.requestline + "\n")
            body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            if self.path == "/refuse":
                status, answer = 400, b'{"error":"invalid_grant"}'
            else:
                head = [self.requestline, self.headers.get("Content-Type"), self.headers.get("Accept"), ""]
                status, answer = 200, "\n".join(head).encode() + body
            self.send_response(status)
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)

    server = ThreadingHTTPServer(("127.0.0.1", 0), Echo)
    server.socket = context(make_leaf(folder, name, "localhost", ca)).wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return "%s=%d\n" % (name, server.server_address[1])


if __name__ == "__main__":
    folder = sys.argv[1]
    ca = make_ca(folder, "ca")
    with open(ca[1]) as f, open(os.path.join(folder, "ca.der"), "wb") as out:
        out.write(ssl.PEM_cert_to_DER_cert(f.read()))
    ports = [serve(folder, "trusted", ca), serve(folder, "untrusted", make_ca(folder, "other-ca"))]
    with open(os.path.join(folder, "servers.txt"), "w") as f:
        f.writelines(ports)
    print("ready", flush=True)
    sys.stdin.buffer.read()
