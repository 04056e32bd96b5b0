"""What the whole-request tests written in Python share: a throwaway folder holding the site's
store, the operator's command run on it, and login programs served by lighttpd through
scripts/site-server.sh; every server started is stopped and the folder removed at the end."""
import shutil
import subprocess
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SERVER = ROOT / "scripts" / "site-server.sh"


class SiteFixture:
    """For a unittest.TestCase: open_site in setUpClass, close_site in tearDownClass."""

    @classmethod
    def open_site(cls, prefix, site_program):
        cls.site_program = site_program
        cls.work = Path(tempfile.mkdtemp(prefix=prefix))
        cls.db = str(cls.work / "site.db")
        cls.servers = []
        cls.site("init")

    @classmethod
    def serve(cls, name, program, db=None, mode=None, env=None):
        """lighttpd serving program on db (the site's own when None) under work/name; its base URL."""
        command = [str(SERVER), "start", str(cls.work / name), program, db or cls.db] + ([mode] if mode else [])
        cls.servers.append(name)
        return subprocess.run(command, check=True, capture_output=True, text=True, env=env).stdout.strip()

    @classmethod
    def close_site(cls):
        for name in cls.servers:
            subprocess.run([str(SERVER), "stop", str(cls.work / name)], check=False)
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def site(cls, *args):
        return subprocess.run([cls.site_program, "--db", cls.db, *args], check=True,
                              capture_output=True, text=True).stdout
