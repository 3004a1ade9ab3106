#!/usr/bin/python3
"""A local RFC 3161 time-stamp authority for the image tests.

Serves time-stamp replies made by `openssl ts -reply` on 127.0.0.1 at a free port. The
authority's key and certificate are generated in WORKDIR on first use (tsa-cert.pem is what a
verifier trusts). Prints "PORT <n>" once it listens; runs until killed or stdin closes when
--until-stdin-closes is given.

    tsa_server.py WORKDIR [--until-stdin-closes]
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading

CONFIG = """\
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
dir = {dir}
serial = $dir/tsa-serial
crypto_device = builtin
signer_cert = $dir/tsa-cert.pem
signer_key = $dir/tsa-key.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def prepare(workdir):
    os.makedirs(workdir, exist_ok=True)
    cert = os.path.join(workdir, "tsa-cert.pem")
    key = os.path.join(workdir, "tsa-key.pem")
    if not os.path.exists(cert):
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
             "-out", cert, "-days", "3650", "-subj", "/CN=Patch Launcher test time-stamp authority",
             "-addext", "extendedKeyUsage=critical,timeStamping",
             "-addext", "keyUsage=critical,digitalSignature"],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(workdir, "tsa-serial"), "w") as f:
        f.write("01\n")
    config = os.path.join(workdir, "tsa.cnf")
    with open(config, "w") as f:
        f.write(CONFIG.format(dir=workdir))
    return config


def serve(workdir, until_stdin_closes):
    config = prepare(workdir)
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            with lock, tempfile.TemporaryDirectory(dir=workdir) as tmp:
                qfile = os.path.join(tmp, "query.tsq")
                rfile = os.path.join(tmp, "reply.tsr")
                with open(qfile, "wb") as f:
                    f.write(query)
                done = subprocess.run(
                    ["openssl", "ts", "-reply", "-config", config, "-queryfile", qfile,
                     "-out", rfile], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                if done.returncode != 0:
                    self.send_error(500, done.stderr.decode(errors="replace")[:200])
                    return
                with open(rfile, "rb") as f:
                    reply = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    if until_stdin_closes:
        threading.Thread(target=server.serve_forever, daemon=True).start()
        sys.stdin.read()
        server.shutdown()
    else:
        server.serve_forever()


if __name__ == "__main__":
    serve(os.path.abspath(sys.argv[1]), "--until-stdin-closes" in sys.argv[2:])
