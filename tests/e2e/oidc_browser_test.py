#!/usr/bin/env python3
"""An application behind Apache signs its visitor in through the login page as its OpenID
Connect provider: Debian's Apache with mod_auth_openidc, configured with the package's example
(packaging/entravo-site/apache-oidc.conf.in, as the README shows it), protects a page that greets
REMOTE_USER. Debian's Chromium asks for the page and is sent to the provider, which has no
session and shows the page that waits for the token. The agent under Wine, with the stand-in
reader, then opens the sign-in in a new tab of the same browser, as a person's browser would.
With both tabs open, one of them goes on to the application, which greets the account, and the
other says that the sign-in went on in the other tab. The pages' pictures are kept.

  oidc_browser_test.py WINDOWS-BIN NATIVE-BIN ARTIFACTS
    WINDOWS-BIN  the Windows build's bin folder (logonagent.exe, lampup.exe, uidriver.exe)
    NATIVE-BIN   the host build's bin folder (login.cgi, entravo-site)
    ARTIFACTS    where the screenshots and page texts are kept

Exit status 0 passed, 1 failed (one line says why), 2 usage, 77 skipped (no 32-bit code, or no
Apache with mod_auth_openidc here).
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "scripts"))

from agent_stage import AgentStage, StageError, stage_test_main  # noqa: E402
from browse import Browser, free_port  # noqa: E402

ACCOUNT = "alice"
NAME = "oidc-browser-test"
APACHE = "/usr/sbin/apache2"
MODULES = "/usr/lib/apache2/modules"
START_TRIES = 5
READY_SECONDS = 20
BOTH_TABS_SECONDS = 30
WAITING = "Touch your token"
ELSEWHERE = "went on in the other tab"
GREETING = f"Hello, {ACCOUNT}"


class Apache:
    """Apache on a free loopback port with a configuration of its own: the package's example
    for mod_auth_openidc, and a page under /protected/ that greets REMOTE_USER. Run as this
    user, or as nobody when this is root (its folder is opened to others for that)."""

    def __init__(self, site, issuer):
        self.site, self.issuer = site, issuer
        self.folder = self.process = self.url = None

    def __enter__(self):
        self.folder = tempfile.mkdtemp(prefix="apache-oidc.", dir=os.environ.get("TMPDIR", "/tmp"))
        os.chmod(self.folder, 0o755)
        os.makedirs(os.path.join(self.folder, "www", "protected"))
        with open(os.path.join(self.folder, "www", "protected", "index.shtml"), "w") as page:
            page.write('<!DOCTYPE html>\n<html><head><title>Application</title></head>\n'
                       '<body><h1>Application</h1><p>Hello, <!--#echo var="REMOTE_USER" --></p></body></html>\n')
        for _ in range(START_TRIES):
            port = free_port()
            self.url = f"http://127.0.0.1:{port}"
            client_id, secret = self.site("oidc", "add", "application", self.url + "/protected/redirect_uri").split()
            self._configure(port, client_id, secret)
            with open(self.path("error.log"), "ab") as log:
                self.process = subprocess.Popen([APACHE, "-f", self.path("apache.conf"), "-DFOREGROUND"],
                                                stdout=log, stderr=log, start_new_session=True)
            if self._ready():
                return self
            self._stop()
            self.site("oidc", "remove", client_id)
        with open(self.path("error.log")) as log:
            why = log.read().strip().splitlines()[-3:]
        self.__exit__()
        raise StageError(f"Apache did not start: {why}")

    def __exit__(self, *_):
        self._stop()
        shutil.rmtree(self.folder, ignore_errors=True)
        return False

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def _configure(self, port, client_id, secret):
        snippet = subprocess.run(
            [os.path.join(ROOT, "scripts", "render-site-config.sh"),
             os.path.join(ROOT, "packaging", "entravo-site", "apache-oidc.conf.in"), f"OIDC_ISSUER={self.issuer}",
             f"OIDC_APP={self.url}", f"OIDC_CLIENT_ID={client_id}", f"OIDC_CLIENT_SECRET={secret}"],
            check=True, capture_output=True, text=True).stdout
        modules = ["mpm_event", "authn_core", "authz_core", "authz_user", "mime", "dir", "include",
                   "auth_openidc"]
        user = "User nobody\nGroup nogroup\n" if os.geteuid() == 0 else ""
        with open(self.path("apache.conf"), "w") as conf:
            conf.write("".join(f"LoadModule {name}_module {MODULES}/mod_{name}.so\n" for name in modules))
            conf.write(f"ServerRoot {self.folder}\nDefaultRuntimeDir {self.folder}\nPidFile {self.path('apache.pid')}\n"
                       f"ServerName 127.0.0.1\nListen 127.0.0.1:{port}\nErrorLog {self.path('error.log')}\n{user}"
                       f"DocumentRoot {self.path('www')}\nDirectoryIndex index.shtml\nTypesConfig /dev/null\nAddType text/html .shtml\n"
                       f"<Directory {self.path('www')}>\n    Options +Includes\n"
                       "    AddOutputFilter INCLUDES .shtml\n</Directory>\n" + snippet)

    def _ready(self):
        deadline = time.monotonic() + READY_SECONDS
        while time.monotonic() < deadline and self.process.poll() is None:
            try:
                urllib.request.urlopen(self.url + "/", timeout=2).close()
                return True
            except urllib.error.HTTPError:
                return True
            except OSError:
                time.sleep(0.1)
        return False

    def _stop(self):
        if self.process and self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()


def keep(browser, tab, name, artifacts):
    """The tab's page, kept under name in artifacts; its text."""
    browser.switch(tab)
    before = set(os.listdir(browser.out))
    browser.keep(name)
    kept = sorted(set(os.listdir(browser.out)) - before)
    os.makedirs(artifacts, exist_ok=True)
    for file in kept:
        if file.endswith((".png", ".txt")):
            shutil.copy(os.path.join(browser.out, file), os.path.join(artifacts, name + os.path.splitext(file)[1]))
    return browser.text()


def both_tabs(browser):
    """The texts of the two tabs once one greets the account and the other says where the
    sign-in went: (the application's tab, the other), or None when that did not come in time.
    The waiting tab looks again by itself every few seconds."""
    deadline = time.monotonic() + BOTH_TABS_SECONDS
    while time.monotonic() < deadline:
        tabs = browser.tabs()
        texts = []
        for tab in tabs:
            browser.switch(tab)
            texts.append(browser.text())
        greeted = [tab for tab, text in zip(tabs, texts) if GREETING in text]
        elsewhere = [tab for tab, text in zip(tabs, texts) if ELSEWHERE in text]
        if len(tabs) == 2 and len(greeted) == 1 and len(elsewhere) == 1:
            return greeted[0], elsewhere[0]
        time.sleep(0.5)
    raise StageError(f"the tabs did not settle within {BOTH_TABS_SECONDS} s; they show: {texts}")


def run(winbin, nativebin, artifacts):
    with AgentStage("oidc-browser", winbin, nativebin, ACCOUNT, keep=None, tabs=True) as stage:
        site = lambda *args: subprocess.run([os.path.join(nativebin, "entravo-site"), "--db", stage.path("site.db"),
                                             *args], check=True, capture_output=True, text=True).stdout
        issuer = stage.base + "/entravo/login.cgi"
        with Apache(site, issuer) as apache, \
                Browser(stage.path("pages"), stage.browser_session()) as browser:
            browser.go(apache.url + "/protected/")
            first = browser.tabs()[0]
            if WAITING not in keep(browser, first, "provider-waits-for-the-token", artifacts):
                raise StageError(f"the application's page did not lead to the waiting page: {browser.text()}")

            stage.registry(r"HKCU\Software\Entravo\logonagent\Options", "SkipAccessDialog", "REG_DWORD", 1)
            stage.start_agent()
            stage.driver("tray", "double")
            stage.visit(2)  # the sign-in's tab, kept once its pages stopped moving
            greeted, elsewhere = both_tabs(browser)
            print(f"{NAME}: the application's page came in the "
                  f"{'first' if greeted == first else 'sign-in'} tab")
            for tab, name in ((greeted, "application-greets-the-account"), (elsewhere, "other-tab-says-so")):
                print(f"{NAME}: {name}: {keep(browser, tab, name, artifacts).strip().replace(chr(10), ' ')}")
            stage.exit_agent()


def main(args):
    def unavailable():
        if not (os.access(APACHE, os.X_OK) and os.path.exists(os.path.join(MODULES, "mod_auth_openidc.so"))):
            return "no Apache with mod_auth_openidc (run scripts/setup.sh)"
        return None

    return stage_test_main(NAME, __doc__.strip().split("\n\n")[1], __file__, args, run, unavailable)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
