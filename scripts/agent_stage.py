"""The whole road staged on this machine, for the demo and the real-browser test: the agent
under Wine with the stand-in reader, the site's login page under lighttpd, and the host's
Chromium (through scripts/browse.py) as the browser Wine hands web pages to.

    with AgentStage("demo", winbin, nativebin, account="demo") as stage:
        stage.start_agent()
        stage.driver("tray", "double")
        page = stage.visit(1)

Everything lives in one throwaway folder (stage.folder): a Wine prefix made by
scripts/wine-common.sh, the site's database, the browser's profiles. Leaving the block stops
all the stage started; the folder goes too, except its pages/ when the block ended well
(keep="pages") and all but the prefix and the browser profiles when it did not, so that the
logs a failure names are still there.
"""
import os
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SCRIPTS = os.path.dirname(os.path.abspath(__file__))
PROMPT_TITLE = "Authentication Required"
PROMPT_OK = "1"
VISIT_SECONDS = 60  # a Chromium start on a busy machine takes seconds
EXIT_SECONDS = 30


class StageError(Exception):
    """A step of the stage failed; the message says which, in one line."""


def end_on_terminate():
    """A SIGTERM (a time-out, a kill) ends the program as an exception would, so that every
    stage being left cleans up."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def wine_common(command, *args, env=None):
    """Runs a command with scripts/wine-common.sh sourced, args as "$@"; its standard output."""
    script = f'. {shlex.quote(os.path.join(SCRIPTS, "wine-common.sh"))}; {command}'
    result = subprocess.run(["bash", "-c", script, "wine-common", *args], capture_output=True, text=True, env=env)
    if result.returncode != 0:
        raise StageError(f"{command} failed: {result.stderr.strip() or result.stdout.strip()}")
    return result.stdout.strip()


def can_run32():
    """Whether this machine runs 32-bit Windows programs under Wine."""
    try:
        wine_common("wine_can_run32")
        return True
    except StageError:
        return False


def stage_test_main(name, usage, script, args, run, unavailable=lambda: None):
    """The main of a test that stages the agent beside the site's native programs, with the
    arguments WINBIN NATIVEBIN ARTIFACTS: it runs itself again inside a Wine session of its own,
    then run(winbin, nativebin, artifacts). 77 when the machine cannot run it (unavailable()
    says why, or the agent is 32-bit where no 32-bit code runs), 2 for bad usage, 1 when a step
    failed, 0 when all passed."""
    end_on_terminate()
    if not os.environ.get("LOGONAGENT_WINE_SESSION"):
        session = os.path.join(SCRIPTS, "wine-session.sh")
        os.execv(session, [session, sys.executable, os.path.abspath(script), *args])
    if len(args) != 3:
        print(usage, file=sys.stderr)
        return 2
    winbin, nativebin, artifacts = os.path.abspath(args[0]), os.path.abspath(args[1]), args[2]
    why = unavailable()
    if not why and wine_common('pe_machine "$1"', os.path.join(winbin, "logonagent.exe")) == "i386" \
            and not can_run32():
        why = "this machine runs no 32-bit code"
    if why:
        print(f"{name}: skipped: {why}", file=sys.stderr)
        return 77
    for needed in ("login.cgi", "entravo-site"):
        if not os.access(os.path.join(nativebin, needed), os.X_OK):
            print(f"{name}: FAILED: {nativebin}/{needed} is missing: build the native preset first", file=sys.stderr)
            return 1
    try:
        run(winbin, nativebin, artifacts)
    except StageError as error:
        print(f"{name}: FAILED: {error}", file=sys.stderr)
        return 1
    print(f"{name}: passed; screenshots in {artifacts}")
    return 0


def demo_token():
    return wine_common('printf %s "$demo_token"')


def wine_path(path):
    return wine_common('wine_path "$1"', path)


class AgentStage:
    # keep: "pages" keeps the pages after a good run and the logs after a failed one; None
    # keeps nothing.
    # front: the site is reached through nginx, in front of an application at /app/ that only
    # a signed-in visitor reaches; the browser follows each logon page to the application.
    # tabs: Wine hands each page to a new tab of the browser the caller drives (browse.py's
    # Browser, with stage.browser_session() as its session file), as a person's browser would.
    def __init__(self, name, winbin, nativebin, account, browser_options=(), keep="pages", front=False, tabs=False):
        self.name, self.winbin, self.nativebin, self.account = name, winbin, nativebin, account
        self.browser_options, self.keep, self.front, self.tabs = list(browser_options), keep, front, tabs
        self.folder = self.base = self.agent = self._loader = None
        self.env = dict(os.environ)

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    # --- set up, in the order __enter__ runs it -----------------------------------------
    def __enter__(self):
        self.folder = tempfile.mkdtemp(prefix=f"{self.name}.", dir=os.environ.get("TMPDIR", "/tmp"))
        os.makedirs(self.path("pages"))
        try:
            self._site()
            self._prefix()
            self._agent_folder()
            self._browser()
        except BaseException:
            self.__exit__(StageError, None, None)
            raise
        return self

    def _site(self):
        site = [os.path.join(self.nativebin, "entravo-site"), "--db", self.path("site.db")]
        for step in (["init"], ["enroll", demo_token(), self.account]):
            if subprocess.run(site + step, capture_output=True).returncode != 0:
                raise StageError(f"the site's database could not be made in {self.folder}")
        # With a front, nginx as the package configures it: the login page through fcgiwrap and,
        # at /app/, an application behind the session check.
        start = [os.path.join(SCRIPTS, "site-server.sh"), "start", self.path("site"),
                 os.path.join(self.nativebin, "login.cgi"), self.path("site.db"), "nginx" if self.front else "cgi"]
        result = subprocess.run(start, capture_output=True, text=True)
        if result.returncode != 0:
            raise StageError(f"the site did not start (see {self.path('site', 'error.log')})")
        self.base = result.stdout.strip()
        if self.front:
            self.browser_options += ["--then", f"{self.base}/app/"]

    def _prefix(self):
        prefix = self.path("prefix")
        try:
            loader = wine_common('wine_prefix_start "$1" "$2" && printf %s "$WINELOADER"', prefix,
                                 self.path("wineboot.log"), env=self.env)
        except StageError:
            raise StageError(f"Wine could not make its prefix (see {self.path('wineboot.log')}); "
                             "is wine64 installed? run scripts/setup.sh") from None
        self.env.update(WINEPREFIX=prefix, WINELOADER=loader)
        self.env.setdefault("WINEDEBUG", "-all")
        self.env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")

    def _agent_folder(self):
        standins = os.path.join(self.winbin, "..", "standins")
        os.makedirs(self.path("agent"))
        files = [os.path.join(self.winbin, "logonagent.exe"), os.path.join(self.winbin, "lampup.exe"),
                 os.path.join(standins, "vtfs32", "VTFS32.DLL"), os.path.join(standins, "xobcomm", "XobComm.dll"),
                 os.path.join(standins, "xobapi", "XOBAPI.dll")]
        try:
            for file in files:
                shutil.copy(file, self.path("agent"))
        except OSError:
            raise StageError(f"the Windows programs are not built in {self.winbin}") from None
        self.reader()

    def reader(self, rom=None):
        """The stand-in reader: the demo token, or the ROM given, and the indicator switch."""
        wine_common('write_reader "$@"', self.path("agent", "reader.txt"), *([rom] if rom else []))

    def registry(self, key, name, kind, data):
        # No pipes: a Wine program's helpers can keep one open long after it has ended.
        result = subprocess.run([self.env["WINELOADER"], "reg", "add", key, "/v", name, "/t", kind, "/d", str(data),
                                 "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        if result.returncode != 0:
            raise StageError(f"could not set {key}\\{name} in the Wine registry")

    def _browser(self):
        """Wine's web browser is browse.py; each URL it is handed also goes to urls.log."""
        tab = ["--tab", self.browser_session()] if self.tabs else []
        browse = [os.path.join(SCRIPTS, "browse.py"), *tab, *self.browser_options, "--out", self.path("pages")]
        with open(self.path("browser.sh"), "w") as script:
            script.write("#!/bin/bash\n"
                         f'python3 {shlex.join(browse)} "$1" >>{shlex.quote(self.path("browse.log"))} 2>&1\n'
                         f'echo "$1" >>{shlex.quote(self.path("urls.log"))}\n')
        os.chmod(self.path("browser.sh"), 0o755)
        open(self.path("urls.log"), "w").close()
        self.registry(r"HKCU\Software\Wine\WineBrowser", "Browsers", "REG_SZ", self.path("browser.sh"))
        self.registry(r"HKCU\Software\Entravo\logonagent\Options", "AccessUrl", "REG_SZ",
                      f"{self.base}/entravo/login.cgi?Authenticate=")

    def browser_session(self):
        return self.path("browser-session.json")

    # --- the agent ------------------------------------------------------------------------
    def loader(self):
        machine = wine_common('pe_machine "$1"', self.path("agent", "logonagent.exe"))
        return wine_common("wine_loader32" if machine == "i386" else "wine_loader64")

    def start_agent(self):
        """Starts the agent from its folder and waits for its hidden window."""
        self._loader = self.loader()
        with open(self.path("agent.log"), "wb") as log:
            self.agent = subprocess.Popen([self._loader, self.path("agent", "logonagent.exe")], cwd=self.path("agent"),
                                          stdout=log, stderr=log, env=self.env)
        if not self.driver("wait-agent", "60"):
            raise StageError(f"the agent did not start (see {self.path('agent.log')})")

    def driver(self, *args):
        """The UI driver under the loader of the agent's architecture; True when it succeeded."""
        return subprocess.run([self._loader, os.path.join(self.winbin, "uidriver.exe"), *args],
                              stdout=subprocess.DEVNULL, env=self.env).returncode == 0

    def logon_through_prompt(self):
        """A double-click on the icon, then OK in the prompt."""
        self.driver("tray", "double")
        if not self.driver("wait-dialog", PROMPT_TITLE, "30"):
            raise StageError("no logon prompt appeared after the double-click")
        self.driver("press", PROMPT_TITLE, PROMPT_OK)

    def exit_agent(self):
        """Ends the agent through its menu's Exit, as a user would."""
        if not (self.driver("tray", "right") and self.driver("menu", "last")):
            raise StageError("the agent's menu did not open")
        try:
            self.agent.wait(EXIT_SECONDS)
        except subprocess.TimeoutExpired:
            raise StageError("the agent did not end through its menu's Exit") from None

    # --- what the browser kept --------------------------------------------------------------
    def visit(self, number):
        """Waits for the browser's numbered visit to be kept; its JSON file's path."""
        kept = self.path("pages", f"page-{number}.json")
        deadline = time.monotonic() + VISIT_SECONDS
        while time.monotonic() < deadline:
            if os.path.exists(kept):
                return kept
            time.sleep(0.1)
        raise StageError(f"the browser kept no page {number} within {VISIT_SECONDS} s "
                         f"(see {self.path('browse.log')})")

    def urls(self):
        with open(self.path("urls.log")) as file:
            return file.read().splitlines()

    # --- clean-up ---------------------------------------------------------------------------
    def __exit__(self, kind, error, trace):
        for server in ("site",):
            subprocess.run([os.path.join(SCRIPTS, "site-server.sh"), "stop", self.path(server)], capture_output=True)
        self._end_windows()
        if self.agent and self.agent.poll() is None:
            self.agent.kill()
        wine_common('wine_prefix_end "$1"', self.path("prefix"))
        if self.agent:
            self.agent.wait()
        if self.keep is None:
            shutil.rmtree(self.folder, ignore_errors=True)
            return False
        if kind is None:
            for entry in os.listdir(self.folder):
                if entry != "pages":
                    self._remove(entry)
        else:
            self._remove("prefix")
        for entry in os.listdir(self.path("pages")) if os.path.isdir(self.path("pages")) else []:
            if entry.startswith(".profile-") or entry == "window-profile":
                self._remove("pages", entry)
        return False

    def _end_windows(self):
        try:
            with open(self.path("pages", "window.pid")) as file:
                pids = [int(line) for line in file if line.strip()]
        except OSError:
            return
        for pid in pids:
            try:
                os.killpg(pid, signal.SIGTERM)
            except OSError:
                try:
                    os.kill(pid, signal.SIGTERM)
                except OSError:
                    pass

    def _remove(self, *parts):
        target = self.path(*parts)
        if os.path.isdir(target) and not os.path.islink(target):
            shutil.rmtree(target, ignore_errors=True)
        elif os.path.lexists(target):
            os.remove(target)
