#!/usr/bin/env python3
"""The whole road with a real browser: the agent under Wine with the stand-in reader, its access
URL on the site's login.cgi under lighttpd, and Wine handing the logon URL to Debian's
Chromium (headless, through scripts/browse.py). Each final page is checked by its text, its
address and its cookie, and its screenshot is kept. Then once more with nginx in front, on to
an application that only a signed-in visitor reaches, which greets the account.

  real_browser_test.py WINDOWS-BIN NATIVE-BIN ARTIFACTS
    WINDOWS-BIN  the Windows build's bin folder (logonagent.exe, lampup.exe, uidriver.exe)
    NATIVE-BIN   the host build's bin folder (login.cgi, entravo-site)
    ARTIFACTS    where the screenshots and page texts are kept

Exit status 0 passed, 1 failed (one line says why), 2 usage, 77 skipped (no 32-bit code here).
"""
import os
import shutil
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "scripts"))

from agent_stage import AgentStage, StageError, stage_test_main  # noqa: E402
from kept_page import load, session_problem  # noqa: E402

ACCOUNT = "alice"
STRANGER = "01B1B2C3D4E5F6D8"
NAME = "real-browser-test"


def expect_page(json_path, words, signed_in, name, artifacts):
    """The words the page must show and whether it carries a session; keeps its picture."""
    base = json_path[: -len(".json")]
    with open(base + ".txt") as file:
        text = file.read()
    if words not in text:
        raise StageError(f'{name}: expected "{words}", the page says: {text}')
    if session_problem(load(json_path), signed_in):
        raise StageError(f"{name}: the final address or the cookie is wrong")
    os.makedirs(artifacts, exist_ok=True)
    shutil.copy(base + ".png", os.path.join(artifacts, name + ".png"))
    shutil.copy(base + ".txt", os.path.join(artifacts, name + ".txt"))
    print(f"{NAME}: {name}: {text.replace(chr(10), ' ')}")


def run(winbin, nativebin, artifacts):
    with AgentStage("real-browser", winbin, nativebin, ACCOUNT, keep=None) as stage:
        stage.start_agent()

        stage.logon_through_prompt()
        first = stage.visit(1)
        expect_page(first, f"Signed in as {ACCOUNT}", True, "signed-in-after-prompt", artifacts)

        with open(stage.path("browse.log"), "ab") as log:
            subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "browse.py"), "--out",
                            stage.path("pages"), load(first)["url"]], stdout=log, stderr=log)
        expect_page(stage.visit(2), "already used", False, "same-link-again", artifacts)

        stage.registry(r"HKCU\Software\Entravo\logonagent\Options", "SkipAccessDialog", "REG_DWORD", 1)
        stage.driver("tray", "double")
        expect_page(stage.visit(3), f"Signed in as {ACCOUNT}", True, "signed-in-prompt-skipped", artifacts)

        stage.reader(STRANGER)
        stage.driver("tray", "double")
        expect_page(stage.visit(4), "This token may not sign in to this site", False, "token-not-enrolled", artifacts)

        stage.exit_agent()

    # The operator's own application behind nginx, which asks the site's session check first.
    with AgentStage("real-browser-front", winbin, nativebin, ACCOUNT, keep=None, front=True) as stage:
        stage.start_agent()
        stage.logon_through_prompt()
        expect_page(stage.visit(1), f"Signed in as {ACCOUNT}", True, "signed-in-through-nginx", artifacts)
        expect_page(stage.visit(2), f"Hello, {ACCOUNT}", True, "application-behind-nginx", artifacts)
        stage.exit_agent()


def main(args):
    return stage_test_main(NAME, __doc__.strip().split("\n\n")[1], __file__, args, run)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
