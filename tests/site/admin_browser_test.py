"""The admin page in a real browser: Debian's Chromium (headless, through ChromeDriver, as
scripts/browse.py drives it) signs in as an administrator through login.fcgi under lighttpd,
opens the admin page, finds the plots' known counts and the tokens, presses a token's Revoke
button and sees it revoked, its holder's session ended. Screenshots of the page on a desktop
and on a phone's width, and after the revocation, are kept in ARTIFACTS.

    admin_browser_test.py LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS ARTIFACTS

Exit status 0 passed, 1 failed (one line says why), 77 skipped (no Chromium or lighttpd).
"""
import base64
import http.client
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "scripts"))
from browse import CHROMEDRIVER, CHROMIUM, Browser  # noqa: E402

SERVER = ROOT / "scripts" / "site-server.sh"
ALICE, BOB, CAROL = "0123456789ABCDEF", "2800000000000042", "3000000000000007"
ELEMENT = "element-6066-11e4-a52e-4f735466cecf"
NAME = "admin-browser-test"
WAIT_SECONDS = 20


class Failed(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise Failed(what)


class Site:
    def __init__(self, program, site_program, make_logons, work):
        self.program, self.site_program, self.make_logons, self.work = program, site_program, make_logons, work
        self.db = str(work / "site.db")

    def command(self, *args):
        return subprocess.run([self.site_program, "--db", self.db, *args], check=True, capture_output=True,
                              text=True).stdout

    def strings(self, identity, first, count=1):
        return subprocess.run([self.make_logons, identity, str(first), str(count)], check=True,
                              capture_output=True, text=True).stdout.split()

    def start(self):
        base = subprocess.run([str(SERVER), "start", str(self.work / "server"), self.program, self.db, "fcgi"],
                              check=True, capture_output=True, text=True).stdout.strip()
        self.port = int(base.rsplit(":", 1)[1])
        self.page = f"{base}/entravo/login.fcgi"

    def stop(self):
        subprocess.run([str(SERVER), "stop", str(self.work / "server")], check=False)

    def get(self, target, source="127.0.0.2", cookie=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30, source_address=(source, 0))
        try:
            connection.request("GET", "/entravo/login.fcgi" + target, headers={"Cookie": cookie} if cookie else {})
            response = connection.getresponse()
            response.read()
            return response.status, response.getheader("Set-Cookie", "").split(";")[0]
        finally:
            connection.close()


class AdminBrowser(Browser):
    """browse.py's Chromium, with what this test asks of a page."""

    def script(self, text):
        return self.web.command("POST", "/execute/sync", {"script": text, "args": []})

    def wait_for(self, words):
        """The page once it shows the words: a bounded poll of the page the browser has."""
        deadline = time.monotonic() + WAIT_SECONDS
        while time.monotonic() < deadline:
            if words in self.text():
                return
            time.sleep(0.1)
        raise Failed(f'the page never showed "{words}"; it shows: {self.text()[:300]}')

    def click(self, selector):
        found = self.web.command("POST", "/element", {"using": "css selector", "value": selector})
        self.web.command("POST", f"/element/{found[ELEMENT]}/click", {})

    def screenshot(self, path, width, height):
        self.web.command("POST", "/window/rect", {"width": width, "height": height})
        path.write_bytes(base64.b64decode(self.web.command("GET", "/screenshot")))
        print(f"{NAME}: kept {path}")


def known_load(site):
    """Three sign-ins of other tokens, three forged strings, and an address that spends its
    budget of 20 failures and is refused twice: with bob's session and alice's own sign-in, the
    current hour and day hold 5 sign-ins, 23 failures and 2 refusals."""
    for string in site.strings(BOB, 10, 2) + site.strings(CAROL, 10):
        expect(site.get("?Authenticate=" + string)[0] == 303, "a sign-in of the load was not accepted")
    forged = site.strings(CAROL, 20)[0]
    forged = forged[:40] + ("1" if forged[40] == "0" else "0") + forged[41:]
    for _ in range(3):
        expect(site.get("?Authenticate=" + forged)[0] == 403, "a forged string was not refused")
    for _ in range(20):
        site.get("?Authenticate=" + "0" * 64, source="127.0.0.9")
    for _ in range(2):
        expect(site.get("?Authenticate=" + "0" * 64, source="127.0.0.9")[0] == 429, "the spent budget held nothing")


def run(site, artifacts):
    site.command("init")
    for identity, account in ((ALICE, "alice"), (BOB, "bob"), (CAROL, "carol")):
        site.command("enroll", identity, account)
    site.command("admin", "grant", "alice")
    site.start()
    known_load(site)
    bob_session = site.get("?Authenticate=" + site.strings(BOB, 30)[0])[1]
    expect(site.get("/auth", cookie=bob_session)[0] == 200, "bob's session does not hold")

    with AdminBrowser(str(site.work)) as browser:
        browser.go(site.page + "?Authenticate=" + site.strings(ALICE, 10)[0])
        browser.wait_for("Signed in as alice")
        browser.go(site.page + "/admin")
        browser.wait_for("Site administration")
        hourly = browser.script("return document.getElementById('hourly-desc').textContent;")
        # The counts, whichever hours or days the run's moments fell in.
        counts = "5 sign-ins, 23 failures; 2 attempts refused for a spent budget in "
        expect(counts in hourly, f"the hourly plot says: {hourly}")
        daily = browser.script("return document.getElementById('daily-desc').textContent;")
        expect(counts in daily, f"the daily plot says: {daily}")
        page = browser.text()
        expect("127.0.0.9" in page, "the address that spent its budget is not listed")
        expect(f"{BOB}\tbob\tactive" in page, f"bob's token is not listed as active: {page[:600]}")
        browser.screenshot(artifacts / "admin-page.png", 1100, 1700)
        browser.screenshot(artifacts / "admin-page-phone.png", 390, 2400)
        browser.web.command("POST", "/window/rect", {"width": 1100, "height": 1700})

        browser.click(f'button[aria-label="Revoke token {BOB}"]')
        browser.wait_for(f"Token {BOB} revoked; its sessions are ended.")
        expect(f"{BOB}\tbob\trevoked" in browser.text(), "bob's token is not shown revoked")
        browser.screenshot(artifacts / "admin-page-revoked.png", 1100, 1700)
    expect(site.get("/auth", cookie=bob_session)[0] == 401, "bob's session outlived the revocation")
    expect(f"{BOB} revoked bob" in site.command("list"), "the store does not hold bob's token revoked")


def main(args):
    if len(args) != 4:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    for program in (CHROMIUM, CHROMEDRIVER, shutil.which("lighttpd") or "lighttpd"):
        if not os.access(program, os.X_OK):
            print(f"{NAME}: skipped: {program} is missing (scripts/setup.sh)", file=sys.stderr)
            return 77
    artifacts = Path(args[3]).resolve()
    artifacts.mkdir(parents=True, exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix="admin-browser."))
    site = Site(*args[:3], work)
    try:
        run(site, artifacts)
    except (Failed, RuntimeError, OSError, subprocess.CalledProcessError) as error:
        print(f"{NAME}: FAILED: {error}", file=sys.stderr)
        return 1
    finally:
        site.stop()
        shutil.rmtree(work, ignore_errors=True)
    print(f"{NAME}: passed; screenshots in {artifacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
