#!/usr/bin/env python3
"""The demo's driving, once scripts/demo.sh has installed and built what it needs:

  demo.py --headless WINDOWS-BIN NATIVE-BIN   one scripted logon; prints the logon URL, the
                                              token it names, the final page's text and the
                                              path of its screenshot
  demo.py --window WINDOWS-BIN NATIVE-BIN     the agent in a Wine virtual desktop with a
                                              taskbar on $DISPLAY, until that window closes

Exit status 0 when the site signed the token in (or the desktop was closed), 1 otherwise.
"""
import os
import re
import subprocess
import sys
import time

from agent_stage import AgentStage, StageError, end_on_terminate, demo_token, wine_path
from kept_page import load

ACCOUNT = "demo"
INDICATOR_SECONDS = 10


def say(line):
    print(f"demo: {line}", flush=True)


def report_logon(stage, url):
    verdict = subprocess.run([os.path.join(stage.nativebin, "entravo-site"), "verify", url],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    say(f"logon URL: {url}")
    say(f"the site's verifier: {verdict.stdout.strip()}")


def report_indicator(stage):
    """What the indicator stand-in was told, once it has been switched on (or after a while)."""
    log = stage.path("calls.log")
    lines = []
    deadline = time.monotonic() + INDICATOR_SECONDS
    while time.monotonic() < deadline:
        lines = open(log).read().splitlines() if os.path.exists(log) else []
        if any(re.match(r"switch .* state 53", line) for line in lines):
            break
        time.sleep(0.1)
    for line in lines:
        if line.startswith("switch "):
            say(f"indicator stand-in: {line}")


def headless(stage):
    say(f"headless on display {os.environ.get('DISPLAY', '')}: one scripted logon")
    stage.start_agent()
    stage.logon_through_prompt()
    say("the logon prompt was shown; OK pressed")
    page = stage.visit(1)
    kept = load(page)
    report_logon(stage, kept["url"])
    say(f"final page ({kept['final_url']}):")
    base = page[: -len(".json")]
    text = open(base + ".txt").read().splitlines()
    for line in text:
        print(f"demo:   {line}")
    say(f"screenshot: {base}.png")
    report_indicator(stage)
    stage.exit_agent()
    if f"Signed in as {ACCOUNT}" not in text:
        raise StageError("the site did not sign the token in (the page above says why)")


def window(stage):
    say(f"the agent runs in a Wine virtual desktop \"Entravo\" on {os.environ.get('DISPLAY', '')}")
    say("double-click the tray icon at the bottom right of that window to log on; a Chromium window shows the page")
    say("close the desktop window or press Ctrl-C to end")
    with open(stage.path("explorer.log"), "wb") as log:
        desktop = subprocess.Popen([stage.env["WINELOADER"], "explorer", "/desktop=Entravo,1024x768",
                                    wine_path(stage.path("agent", "logonagent.exe"))],
                                   cwd=stage.path("agent"), stdout=log, stderr=log, env=stage.env)
    seen = 0
    while desktop.poll() is None:
        urls = stage.urls()
        for url in urls[seen:]:
            report_logon(stage, url)
            report_indicator(stage)
        seen = len(urls)
        time.sleep(0.5)


def main(args):
    end_on_terminate()
    if len(args) != 3 or args[0] not in ("--headless", "--window"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    mode, winbin, nativebin = args
    options = ["--window"] if mode == "--window" else []
    try:
        with AgentStage("entravo-demo", winbin, nativebin, ACCOUNT, browser_options=options) as stage:
            say(f"the site's login page: {stage.base}/entravo/login.cgi (token {demo_token()} enrolled as \"demo\")")
            say(f"a fresh Wine prefix in {stage.env['WINEPREFIX']}")
            stage.env["ENTRAVO_SIM_LOG"] = wine_path(stage.path("calls.log"))
            (headless if mode == "--headless" else window)(stage)
    except StageError as error:
        print(f"demo: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
