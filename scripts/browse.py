#!/usr/bin/env python3
"""Opens one URL in Debian's Chromium, as the host browser that Wine hands web pages to.

  browse.py --out DIR URL           headless, driven through ChromeDriver: waits for the final
                                    page (after redirects) and keeps what a person would have
                                    seen in DIR: NAME.png (screenshot), NAME.txt (the page's
                                    text) and NAME.json (the URL asked for, the final URL, the
                                    page title and the cookies' names and flags, never their
                                    values). NAME is page-1, page-2, ... in the order of visits.
  browse.py --out DIR URL --then URL2  the same, then URL2 in the same browser (its cookies
                                    kept): a second page kept
  browse.py --window --out DIR URL  a normal Chromium window for a person to look at; its
                                    process id goes to DIR/window.pid so the caller can end it.
  browse.py --tab SESSION --out DIR URL  a new tab of a browser another program drives (Browser
                                    below, which wrote SESSION): the URL followed there and the
                                    page kept as above, the tab left open; as a person's browser
                                    opens a link it is handed.

Chromium gets a profile of its own under DIR and no network traffic of its own. As root (as in
CI) it runs only with its sandbox off. Every wait is bounded; exit status 0 once the page was
kept (or the window started), 1 with one line on standard error otherwise.
"""
import argparse
import base64
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
DRIVER_START_SECONDS = 20
PAGE_LOAD_SECONDS = 30

# Without these, Chromium spends its first seconds reaching for hosts this machine cannot reach.
QUIET_FLAGS = [
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-quic",
    "--disable-default-apps",
]


def fail(message):
    print(f"browse: {message}", file=sys.stderr)
    sys.exit(1)


def sandbox_flags():
    return ["--no-sandbox"] if os.geteuid() == 0 else []


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def next_name(out):
    visits = [name for name in os.listdir(out) if name.startswith("page-") and name.endswith(".json")]
    return f"page-{len(visits) + 1}"


class WebDriver:
    """The few WebDriver commands a visit needs, over plain HTTP."""

    def __init__(self, port):
        self.base = f"http://127.0.0.1:{port}"
        self.session = None

    def call(self, method, path, body=None, timeout=PAGE_LOAD_SECONDS):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=timeout) as response:
                return json.load(response).get("value")
        except urllib.error.HTTPError as error:
            detail = json.load(error).get("value", {})
            raise RuntimeError(detail.get("message", str(error)).splitlines()[0]) from None

    def wait_ready(self, driver):
        deadline = time.monotonic() + DRIVER_START_SECONDS
        while time.monotonic() < deadline:
            if driver.poll() is not None:
                raise RuntimeError("ChromeDriver ended at start")
            try:
                if self.call("GET", "/status", timeout=2).get("ready"):
                    return
            except (OSError, RuntimeError):
                pass
            time.sleep(0.05)
        raise RuntimeError(f"ChromeDriver did not answer within {DRIVER_START_SECONDS} s")

    def open(self, profile):
        args = ["--headless=new", "--disable-gpu", "--window-size=900,600",
                f"--user-data-dir={profile}"] + QUIET_FLAGS + sandbox_flags()
        capabilities = {"browserName": "chrome",
                        "goog:chromeOptions": {"binary": CHROMIUM, "args": args}}
        value = self.call("POST", "/session", {"capabilities": {"alwaysMatch": capabilities}})
        self.session = value["sessionId"]

    def command(self, method, path, body=None):
        return self.call(method, f"/session/{self.session}{path}", body)


def keep_page(web, url, out):
    """What a person would have seen of the page the browser shows now, kept in out."""
    name = next_name(out)
    final_url = web.command("GET", "/url")
    title = web.command("GET", "/title")
    text = web.command("POST", "/execute/sync",
                       {"script": "return document.body ? document.body.innerText : '';", "args": []})
    cookies = [{key: cookie.get(key) for key in ("name", "path", "httpOnly", "sameSite", "secure")}
               for cookie in web.command("GET", "/cookie")]
    picture = base64.b64decode(web.command("GET", "/screenshot"))
    with open(os.path.join(out, name + ".png"), "wb") as file:
        file.write(picture)
    with open(os.path.join(out, name + ".txt"), "w") as file:
        file.write(text.strip() + "\n")
    # Written last: its presence says the visit is complete.
    with open(os.path.join(out, name + ".json"), "w") as file:
        json.dump({"url": url, "final_url": final_url, "title": title, "cookies": cookies}, file, indent=1)
    first_line = text.strip().splitlines()[0] if text.strip() else ""
    print(f"browse: {name}: {final_url}: {first_line}")


class Browser:
    """A headless Chromium under ChromeDriver with a profile of its own in out, for as long as
    the block lasts. With a session file, its ChromeDriver port and session are written there,
    so that browse.py --tab opens tabs in it."""

    def __init__(self, out, session_file=None):
        self.out, self.session_file = out, session_file
        self.driver = self.web = self.profile = None

    def __enter__(self):
        self.profile = tempfile.TemporaryDirectory(dir=self.out, prefix=".profile-")
        port = free_port()
        with open(os.path.join(self.out, "chromedriver.log"), "ab") as log:
            self.driver = subprocess.Popen([CHROMEDRIVER, f"--port={port}"], stdout=log, stderr=log)
        self.web = WebDriver(port)
        try:
            self.web.wait_ready(self.driver)
            self.web.open(self.profile.name)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        if self.session_file:
            with open(self.session_file, "w") as file:
                json.dump({"port": port, "session": self.web.session}, file)
        return self

    def __exit__(self, *_):
        if self.web.session:
            try:
                self.web.command("DELETE", "")
            except (OSError, RuntimeError):
                pass
        self.driver.terminate()
        try:
            self.driver.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.driver.kill()
            self.driver.wait()
        self.profile.cleanup()
        return False

    def go(self, url):
        """The current tab follows url; returns once its final page has loaded."""
        self.web.command("POST", "/url", {"url": url})

    def tabs(self):
        return self.web.command("GET", "/window/handles")

    def switch(self, tab):
        self.web.command("POST", "/window", {"handle": tab})

    def text(self):
        return self.web.command("POST", "/execute/sync",
                                {"script": "return document.body ? document.body.innerText : '';", "args": []})

    def keep(self, url):
        keep_page(self.web, url, self.out)


def visit_headless(urls, out):
    """Each URL in turn in one browser, as one person following them; a page kept for each."""
    with Browser(out) as browser:
        for url in urls:
            browser.go(url)
            browser.keep(url)


def open_tab(session_file, url, out):
    """A new tab of the browser session_file names, at url, its page kept."""
    with open(session_file) as file:
        session = json.load(file)
    web = WebDriver(session["port"])
    web.session = session["session"]
    tab = web.command("POST", "/window/new", {"type": "tab"})["handle"]
    web.command("POST", "/window", {"handle": tab})
    web.command("POST", "/url", {"url": url})
    keep_page(web, url, out)


def open_window(url, out):
    profile = os.path.join(out, "window-profile")
    os.makedirs(profile, exist_ok=True)
    with open(os.path.join(out, "window.log"), "ab") as log:
        window = subprocess.Popen([CHROMIUM, f"--user-data-dir={profile}", "--new-window"] + QUIET_FLAGS
                                  + sandbox_flags() + [url], stdout=log, stderr=log, start_new_session=True)
    with open(os.path.join(out, "window.pid"), "a") as file:
        file.write(f"{window.pid}\n")


def main():
    parser = argparse.ArgumentParser(description="Open a URL in Chromium and keep the final page.")
    parser.add_argument("--out", required=True, help="folder for what the visit keeps")
    parser.add_argument("--window", action="store_true", help="a window for a person, not headless")
    parser.add_argument("--then", action="append", default=[], help="a URL to follow next in the same browser")
    parser.add_argument("--tab", metavar="SESSION", help="open the URL in a new tab of this driven browser")
    parser.add_argument("url")
    options = parser.parse_args()
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            fail(f"{program} is missing; run scripts/setup.sh")
    os.makedirs(options.out, exist_ok=True)
    try:
        if options.window:
            open_window(options.url, options.out)
        elif options.tab:
            open_tab(options.tab, options.url, options.out)
        else:
            visit_headless([options.url, *options.then], options.out)
    except (OSError, RuntimeError, KeyError, TypeError) as error:
        fail(f"could not visit {options.url}: {error}")


if __name__ == "__main__":
    main()
