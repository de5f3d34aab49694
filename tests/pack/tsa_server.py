#!/usr/bin/python3
"""A throwaway RFC 3161 time-stamp authority for romgate-pack's tests: answers
time-stamp queries POSTed to 127.0.0.1 with `openssl ts -reply`, signed by the
key and certificate in FOLDER (tsa.key, tsa.pem, its root root.pem). Prints its
port, then serves a few requests, for two minutes at most."""
import http.server
import subprocess
import sys
import time
from pathlib import Path

CONFIG = """[tsa]
default_tsa = romgate_test
[romgate_test]
serial = {0}/tsa.serial
signer_cert = {0}/tsa.pem
signer_key = {0}/tsa.key
certs = {0}/root.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1
digests = sha1, sha256, sha384, sha512
ess_cert_id_alg = sha256
"""


class Authority(http.server.BaseHTTPRequestHandler):
    timeout = 10  # a client that stalls is dropped

    def do_POST(self):
        query = self.rfile.read(min(int(self.headers.get("Content-Length", 0)), 1 << 16))
        if self.headers.get("Content-Type") != "application/timestamp-query":
            return self.send_error(415)
        folder = self.server.folder
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", f"{folder}/tsa.cnf",
                                "-queryfile", "/dev/stdin", "-chain", f"{folder}/root.pem"],
                               input=query, capture_output=True)
        if reply.returncode != 0:
            return self.send_error(400, reply.stderr.decode(errors="replace")[:200])
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    folder = Path(sys.argv[1]).resolve()
    (folder / "tsa.cnf").write_text(CONFIG.format(folder))
    (folder / "tsa.serial").write_text("01\n")
    server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
    server.folder = folder
    print(server.server_port, flush=True)
    end = time.monotonic() + 120
    for _ in range(8):
        server.timeout = end - time.monotonic()
        if server.timeout <= 0:
            break
        server.handle_request()
