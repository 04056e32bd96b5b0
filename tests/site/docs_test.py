"""The README shows what ships, word for word, so the two cannot drift: each block marked
<!-- shipped: FILE --> is that template of packaging/entravo-site as the package fills it in
(scripts/render-site-config.sh --package), without its opening comment; the block marked
<!-- settings: ... --> is the settings part of `entravo-site --help` (the manual page is made
from --help, and --help from the settings' table); the spawn-fcgi line for a machine without
systemd is the service's units' command line; and the settings file the package installs
names every setting.

    docs_test.py ENTRAVO_SITE
"""

import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
PACKAGING = ROOT / "packaging" / "entravo-site"
failures = 0


def check(description, expected, actual):
    global failures
    if expected == actual:
        print(f"ok: {description}")
    else:
        print(f"FAILED: {description}:\n--- expected\n{expected}\n--- got\n{actual}")
        failures += 1


def rendered(name):
    text = subprocess.run([ROOT / "scripts" / "render-site-config.sh", "--package", PACKAGING / name],
                          check=True, capture_output=True, text=True).stdout
    lines = text.rstrip("\n").split("\n")
    while lines and (lines[0].startswith("#") or not lines[0].strip()):
        lines.pop(0)
    return "\n".join(lines)


def marked_blocks(readme):
    """(marker, block) for each HTML comment followed by an indented block, dedented."""
    lines = readme.split("\n")
    for number, line in enumerate(lines):
        marker = re.fullmatch(r"<!-- (.*) -->", line)
        if not marker:
            continue
        block = []
        for following in lines[number + 1:]:
            if following and not following.startswith("    "):
                break
            block.append(following[4:])
        yield marker.group(1), "\n".join(block).rstrip("\n")


def unit_value(text, key):
    values = re.findall(rf"^{key}=(.*)$", text, re.MULTILINE)
    return values[-1] if values else ""


def main(args):
    if len(args) != 1:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    readme = (ROOT / "README.md").read_text()
    help_text = subprocess.run([args[0], "--help"], check=True, capture_output=True, text=True).stdout
    settings = "Settings:" + help_text.split("\nSettings:", 1)[1].rstrip("\n")
    names = re.findall(r"^  (ENTRAVO_SITE_[A-Z_]+)", settings, re.MULTILINE)

    seen = set()
    for marker, block in marked_blocks(readme):
        if marker.startswith("shipped: "):
            name = marker.removeprefix("shipped: packaging/entravo-site/")
            check(f"README shows {name} as the package ships it", rendered(name), block)
        elif marker.startswith("settings:"):
            check("README lists the settings as --help does", settings, block)
        elif marker.startswith("the package test's stand-in for systemd runs this"):
            socket, service = rendered("entravo-site.socket"), rendered("entravo-site.service.in")
            line = (f"sudo spawn-fcgi -n -s {unit_value(socket, 'ListenStream')} -M {unit_value(socket, 'SocketMode')}"
                    f" -U {unit_value(socket, 'SocketUser')} -G {unit_value(socket, 'SocketGroup')}"
                    f" -u {unit_value(service, 'User')} -g {unit_value(service, 'Group')}"
                    f" -- {unit_value(service, 'ExecStart')}")
            check("README starts login.fcgi without systemd as the service's units do", line, block)
        seen.add(marker.split(":")[0])
    check("README marks the settings and the shipped blocks", {"settings", "shipped"}, seen & {"settings", "shipped"})
    check("--help names the settings", True, len(names) >= 3)

    site_conf = (PACKAGING / "site.conf").read_text()
    check("the settings file names every setting", names,
          [name for name in names if re.search(rf"^#{name}=", site_conf, re.MULTILINE)])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
