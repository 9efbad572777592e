"""Scripted SMTP servers on 127.0.0.1 for tests that need a server to misbehave on purpose: refuse a command,
answer in pieces, stop reading in the middle of a message, never answer, hang up or keep the line open.

A script is a function of one Session (one client connection). ScriptedServer runs it for the first
connection only (the end-to-end tests look at that one conversation), or for every connection when asked
(tests/support/smtp_peer.py, for the window tests). Everything a client sent is kept on its Session.

    server = ScriptedServer(answering({"RCPT TO: <bob@example.com>": "550 no such user\r\n"}))
    ... send to server.port ...
    server.done.wait(10); server.lines == ["HELO ...", "MAIL FROM: <...>", ...]
"""

import socket
import threading
import time

GREETING = "220 test ready\r\n"
# Between the pieces of a reply given in pieces: long enough for the client to read each one on its own.
PIECE_PAUSE = 0.3


class Session:
    """One client connection: send() replies, read_line() and read_data() take what the client sent."""

    def __init__(self, conn, server):
        self.conn = conn
        self.server = server
        self.buffer = b""
        self.received = bytearray()  # every byte the client sent
        self.lines = []  # the command lines read, without their CR LF
        self.messages = []  # the message texts taken after DATA, each ending in CR LF

    def send(self, data):
        """Sends a reply; a list or tuple of pieces goes piece by piece with a pause between them."""
        if isinstance(data, (list, tuple)):
            for i, piece in enumerate(data):
                if i:
                    time.sleep(PIECE_PAUSE)
                self.send(piece)
            return
        self.conn.sendall(data if isinstance(data, bytes) else data.encode("latin-1"))

    def read_some(self):
        """Whatever comes next, as it comes: what is left from a line read first, b"" once the client closed."""
        if self.buffer:
            chunk, self.buffer = self.buffer, b""
            return chunk
        chunk = self.conn.recv(65536)
        self.received += chunk
        return chunk

    def _read_until(self, end):
        while end not in self.buffer:
            chunk = self.conn.recv(65536)
            if not chunk:
                raise ConnectionError("closed")
            self.received += chunk
            self.buffer += chunk
        taken, self.buffer = self.buffer.split(end, 1)
        return taken

    def read_line(self):
        text = self._read_until(b"\r\n").decode("latin-1")
        self.lines.append(text)
        return text

    def read_data(self):
        """Reads message text up to the end-of-data line; returns it without that line."""
        return self._read_until(b"\r\n.\r\n") + b"\r\n"

    def close(self):
        try:
            self.conn.close()
        except OSError:
            pass


def converse(session, replies=None, greeting=GREETING, hang_up_on_quit=True, at_data=None):
    """The usual conversation. After the greeting each command gets its reply from `replies`, looked up by
    the whole line, then by its verb: "354 go ahead" for DATA, "221 bye" for QUIT, "250 ok" otherwise.
    After a 354 the message is taken and answered "250 accepted", unless `at_data(session)` takes over
    there. QUIT ends the connection, or with hang_up_on_quit=False leaves it open and goes on reading."""
    replies = replies or {}
    session.send(greeting)
    while True:
        line = session.read_line()
        verb = line.split(" ")[0].upper()
        default = {"DATA": "354 go ahead\r\n", "QUIT": "221 bye\r\n"}.get(verb, "250 ok\r\n")
        reply = replies.get(line, replies.get(verb, default))
        session.send(reply)
        if verb == "QUIT":
            if hang_up_on_quit:
                session.close()
                return
        elif verb == "DATA" and reply.startswith("354"):
            if at_data:
                return at_data(session)
            session.messages.append(session.read_data())
            session.send("250 accepted\r\n")


def answering(replies=None, **options):
    """A script that runs converse() with these replies and options."""
    return lambda session: converse(session, replies, **options)


polite = answering()


def hold(session):
    """At DATA: reads nothing more until the server closes, so the client's writes fill the buffers."""
    session.server.closed.wait()


def mute(session, greeting=GREETING):
    """Greets, then reads every line and never answers."""
    session.send(greeting)
    while True:
        session.read_line()


def hang_up(session, greeting=GREETING):
    """Greets and closes the connection at once."""
    session.send(greeting)
    session.close()


class ScriptedServer:
    """Listens on 127.0.0.1 (port 0: any free one) and runs `script(session)` for the first connection, or
    with every_connection=True for each one on a thread of its own. A script that fails (the client reset
    the connection, as some tests want) has its exception in `errors`; `done` is set once a script has
    ended."""

    def __init__(self, script, port=0, every_connection=False, timeout=60, receive_buffer=None):
        self.script = script
        self.timeout = timeout
        self.sessions = []
        self.errors = []
        self.done = threading.Event()
        self.closed = threading.Event()
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if receive_buffer:
            # A fixed buffer turns off the kernel's autotuning, which on some machines lets a loopback
            # connection take in tens of MiB that nobody reads; set before listen, accepted sockets share it.
            self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(5)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, args=(every_connection,), daemon=True).start()

    def _accept(self, every_connection):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            conn.settimeout(self.timeout)
            session = Session(conn, self)
            self.sessions.append(session)
            if not every_connection:
                return self._run(session)
            threading.Thread(target=self._run, args=(session,), daemon=True).start()

    def _run(self, session):
        try:
            self.script(session)
        except Exception as e:
            self.errors.append(e)
        finally:
            self.done.set()

    @property
    def lines(self):
        """The command lines of every connection, in order."""
        return [line for session in self.sessions for line in session.lines]

    @property
    def message(self):
        """The last message taken, or None."""
        messages = [m for session in self.sessions for m in session.messages]
        return messages[-1] if messages else None

    def close(self):
        """Stops listening and lets held scripts end; open connections stay as their scripts left them."""
        self.closed.set()
        try:
            self.listener.close()
        except OSError:
            pass

    def hang_up(self):
        """Closes every connection."""
        for session in self.sessions:
            session.close()
