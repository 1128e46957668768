"""The maker's download server, simulated on 127.0.0.1 (never any other
address) inside the test process. It serves the two package paths and can
misbehave on demand; with `tls=(certfile, keyfile)` it speaks https.
`TimeStampServer` is an RFC 3161 time-stamping server beside it, answering
with `openssl ts -reply` as the test PKI's time-stamping authority.

Behaviours (`PackageServer.behave(path, kind, **options)`):
    ok         the body with Content-Length
    no_length  the body without Content-Length, ended by closing
    status     an error status (options: code) with a short body
    cut        Content-Length of the whole body, then only `keep` bytes
    chunked_cut  chunked transfer of the first `keep` bytes, closed before
               the last chunk
    stall      headers (and `keep` bytes), then nothing until stopped
    trickle    the body in `chunk`-byte pieces, `delay` seconds apart
    paced      the body with Content-Length at `rate` bytes a second, as
               a link of that speed delivers it (for benchmarks)
    hang       nothing at all, not even headers, until stopped
    redirect   302 to another path of the server (options: to), as a CDN's
               front door does
"""
import os
import ssl
import subprocess
import tempfile
import threading
import time
from pathlib import Path
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PATH32 = "/beta/setupZVViewer.cab"
PATH64 = "/beta/setupZVViewer64.cab"
PATH_ARM64 = "/beta/setupZVViewerARM64.cab"


def test_port():
    return int(os.environ.get("ZV_TEST_PORT", "18431"))


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def handle(self):
        try:
            super().handle()
        except ssl.SSLError:
            pass  # a client that refused the certificate

    def do_GET(self):
        server = self.server.owner
        path = self.path.split("?", 1)[0]
        server.requests.append(path)
        body = server.files.get(path)
        kind, options = server.behaviours.get(path, ("ok", {}))
        if body is None:
            kind, options = "status", {"code": 404}
        try:
            getattr(self, "_" + kind)(body or b"", **options)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def _head(self, code, length=None):
        self.send_response(code)
        self.send_header("Content-Type", "application/vnd.ms-cab-compressed")
        self.send_header("Cache-Control", "no-cache")
        if length is None:
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(length))
        self.end_headers()

    def _ok(self, body):
        self._head(200, len(body))
        self.wfile.write(body)

    def _no_length(self, body):
        self.close_connection = True
        self._head(200)
        self.wfile.write(body)

    def _status(self, body, code):
        text = ("error %d\n" % code).encode()
        self._head(code, len(text))
        self.wfile.write(text)

    def _cut(self, body, keep):
        self.close_connection = True
        self._head(200, len(body))
        self.wfile.write(body[:keep])
        self.wfile.flush()

    def _chunked_cut(self, body, keep):
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", "application/vnd.ms-cab-compressed")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for start in range(0, keep, 4096):
            piece = body[start:min(start + 4096, keep)]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
        self.wfile.flush()

    def _stall(self, body, keep=0):
        self._head(200, len(body))
        self.wfile.write(body[:keep])
        self.wfile.flush()
        self.server.owner.stop_event.wait()
        self.close_connection = True

    def _redirect(self, body, to):
        self.send_response(302)
        self.send_header("Location", "http://127.0.0.1:%d%s" % (self.server.server_port, to))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def _hang(self, body):
        self.server.owner.stop_event.wait()
        self.close_connection = True

    def _trickle(self, body, chunk, delay, length=True):
        if not length:
            self.close_connection = True
        self._head(200, len(body) if length else None)
        for start in range(0, len(body), chunk):
            if self.server.owner.stop_event.is_set():
                return
            self.wfile.write(body[start:start + chunk])
            self.wfile.flush()
            time.sleep(delay)

    def _paced(self, body, rate):
        self._head(200, len(body))
        started = time.monotonic()
        # Pieces of 16 KiB, each sent when the link would have carried the
        # bytes before it: the average holds however the sleeps overshoot.
        for start in range(0, len(body), 16384):
            if self.server.owner.stop_event.is_set():
                return
            ahead = started + start / rate - time.monotonic()
            if ahead > 0:
                time.sleep(ahead)
            self.wfile.write(body[start:start + 16384])
        self.wfile.flush()


class PackageServer:
    """Use as a context manager; `files` maps paths to bytes. `port` 0
    takes any free port, in `port` once started."""

    def __init__(self, files=None, port=None, tls=None):
        self.tls = tls
        self.files = dict(files or {})
        self.behaviours = {}
        self.requests = []
        self.port = test_port() if port is None else port
        self.stop_event = threading.Event()
        self.httpd = None
        self.thread = None

    def behave(self, path, kind, **options):
        self.behaviours[path] = (kind, options)
        return self

    def __enter__(self):
        if self.tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*self.tls)
        ThreadingHTTPServer.allow_reuse_address = True
        self.httpd = ThreadingHTTPServer(("127.0.0.1", self.port), _Handler)
        self.port = self.httpd.server_port
        if self.tls:
            # The handshake happens in each connection's own thread.
            self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True,
                                                    do_handshake_on_connect=False)
        self.httpd.daemon_threads = True
        self.httpd.owner = self
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop_event.set()
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(timeout=5)


class _TimeStampHandler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_POST(self):
        server = self.server.owner
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with server.lock:  # openssl counts the serial number in a file
            server.queries += 1
            reply = subprocess.run(["openssl", "ts", "-reply", "-config", str(server.config),
                                    "-queryfile", "/dev/stdin", "-out", "/dev/stdout"],
                                   input=query, capture_output=True)
        if reply.returncode != 0 or not reply.stdout:
            self.send_error(500)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)


class TimeStampServer:
    """Use as a context manager; `url` is its address, on a free port.
    `pki`: the test PKI's directory, with tsa.pem, tsa.key and root.pem."""

    def __init__(self, pki):
        self.pki = Path(pki)
        self.queries = 0
        self.lock = threading.Lock()

    def __enter__(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="zvtsa-")
        scratch = Path(self.scratch.name)
        (scratch / "serial").write_text("01\n")
        self.config = scratch / "tsa.cnf"
        self.config.write_text("\n".join([
            "[tsa]", "default_tsa = test", "[test]",
            "serial = %s" % (scratch / "serial"),
            "signer_cert = %s" % (self.pki / "tsa.pem"),
            "signer_key = %s" % (self.pki / "tsa.key"),
            "certs = %s" % (self.pki / "root.pem"),
            "signer_digest = sha256", "default_policy = 1.2.3.4.1",
            "digests = sha1, sha256, sha384, sha512", "ess_cert_id_alg = sha256", ""]))
        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), _TimeStampHandler)
        self.httpd.daemon_threads = True
        self.httpd.owner = self
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(timeout=5)
        self.scratch.cleanup()
