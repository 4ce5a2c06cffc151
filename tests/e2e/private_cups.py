"""A CUPS of the test's own: cupsd with its own configuration, spool, cache, state and
logs in a temporary folder, listening on a socket there, with one cups-pdf queue whose PDFs
land in that folder. Clients reach it through CUPS_SERVER; nothing of the machine's own
CUPS is used or changed, except cups-pdf's per-queue configuration file, which cups-pdf only
looks for in /etc/cups and which is removed with the rest when the test stops it.

Needs root (cupsd and the cups-pdf backend run as root)."""

import os
import shutil
import subprocess
import tempfile
import time
import uuid

PPD = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd"
BACKEND = "/usr/lib/cups/backend/cups-pdf"


def available():
    return (os.geteuid() == 0 and shutil.which("cupsd") and shutil.which("lpadmin")
            and os.path.exists(BACKEND) and os.path.exists(PPD))


class PrivateCups:
    def __init__(self):
        self.queue = "pantrimo-test-" + uuid.uuid4().hex[:8]
        self.root = tempfile.mkdtemp(prefix="pantrimo-cups-")
        # Filters run as lp: they must reach the folders they work in.
        os.chmod(self.root, 0o755)
        for sub in ("conf", "spool", "cache", "state", "log", "tmp", "out", "home"):
            os.makedirs(self.path(sub))
        for sub in ("tmp", "out"):
            os.chmod(self.path(sub), 0o1777)
        self.socket = self.path("cups.sock")
        self.pdf_conf = f"/etc/cups/cups-pdf-{self.queue}.conf"
        self.proc = None

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    @property
    def env(self):
        return {"CUPS_SERVER": self.socket}

    def start(self):
        with open(self.path("conf", "cupsd.conf"), "w") as f:
            f.write(f"Listen {self.socket}\nLogLevel info\nWebInterface No\nBrowsing No\n"
                    "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                    "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
                    "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n")
        with open(self.path("conf", "cups-files.conf"), "w") as f:
            f.write(f"ServerRoot {self.path('conf')}\nRequestRoot {self.path('spool')}\n"
                    f"CacheDir {self.path('cache')}\nStateDir {self.path('state')}\nTempDir {self.path('tmp')}\n"
                    "ServerBin /usr/lib/cups\nDataDir /usr/share/cups\n"
                    f"AccessLog {self.path('log', 'access_log')}\nErrorLog {self.path('log', 'error_log')}\n"
                    f"PageLog {self.path('log', 'page_log')}\nSandboxing Relaxed\n")
        with open(self.pdf_conf, "w") as f:
            f.write(f"Out {self.path('out')}\nAnonDirName {self.path('out')}\nSpool {self.path('tmp')}\n"
                    "UserUMask 0022\nGrp root\nLogType 0\n")
        self.proc = subprocess.Popen(
            ["cupsd", "-f", "-c", self.path("conf", "cupsd.conf"), "-s", self.path("conf", "cups-files.conf")],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not os.path.exists(self.socket):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the private cupsd did not start: " + self.log())
            time.sleep(0.05)
        env = dict(os.environ, **self.env)
        subprocess.run(["lpadmin", "-p", self.queue, "-E", "-v", f"cups-pdf:/{self.queue}", "-P", PPD],
                       env=env, check=True, capture_output=True)
        subprocess.run(["lpadmin", "-d", self.queue], env=env, check=True, capture_output=True)

    def set_default_paper(self, paper):
        """The queue's default paper, which the print dialog shows: "A4", "Letter"."""
        env = dict(os.environ, **self.env)
        subprocess.run(["lpadmin", "-p", self.queue, "-o", f"PageSize={paper}"], env=env, check=True, capture_output=True)

    def log(self):
        try:
            with open(self.path("log", "error_log"), errors="replace") as f:
                return f.read()[-4000:]
        except OSError:
            return ""

    def wait_for_pdf(self, timeout=120):
        """The queue's PDF once its job is complete: cups-pdf writes the file through
        Ghostscript, which may take a while on a busy machine."""
        env = dict(os.environ, **self.env)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            done = subprocess.run(["lpstat", "-W", "completed", "-o", self.queue], env=env,
                                  capture_output=True, text=True).stdout.strip()
            pdfs = [f for f in os.listdir(self.path("out")) if f.endswith(".pdf")]
            if done and pdfs:
                path = self.path("out", pdfs[0])
                if subprocess.run(["pdfinfo", path], capture_output=True).returncode == 0:
                    return path
            time.sleep(0.3)
        raise TimeoutError("no PDF from the queue: " + self.log())

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for leftover in (self.pdf_conf, f"/var/log/cups/cups-pdf-{self.queue}_log"):
            if os.path.exists(leftover):
                os.remove(leftover)
        shutil.rmtree(self.root, ignore_errors=True)
