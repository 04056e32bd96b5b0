"""A disk that fails to store the log, through a real lighttpd and login.fcgi: the answers of the
logons and verifications that meet the failure are compared with what the store holds after.
The faults come from a shim (tests/site/faults) loaded into login.fcgi: its syncs of the log
fail with EIO or ENOSPC on demand, and every sync is noted.

    disk_faults_test.py LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS SYNC_FAULTS_LIBRARY
"""

import concurrent.futures
import http.client
import os
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path
from urllib.parse import urlsplit

ROOT = Path(__file__).resolve().parents[2]
from site_fixture import SiteFixture  # noqa: E402
sys.path.insert(0, str(ROOT / "site" / "clients" / "python"))
from entravo_verify import Client  # noqa: E402

ALICE = "0123456789ABCDEF"
TOGETHER = 16


class DiskFaults(SiteFixture, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fcgi, site_program, cls.make_logons, shim = sys.argv[1:5]
        cls.open_site("disk-faults.", site_program)
        cls.faults = cls.work / "faults"
        cls.syncs = cls.work / "syncs.log"
        cls.faults.write_text("")
        cls.site("enroll", ALICE, "alice")
        environment = dict(os.environ, SITE_FCGI_PROCESSES="1", ENTRAVO_SITE_THREADS=str(TOGETHER),
                           LD_PRELOAD=shim, ENTRAVO_SYNC_FAULTS=str(cls.faults), ENTRAVO_SYNC_LOG=str(cls.syncs),
                           # The shim comes before the sanitizers' library in a sanitized build.
                           ASAN_OPTIONS="verify_asan_link_order=0")
        base = cls.serve("server", cls.fcgi, mode="fcgi", env=environment)
        cls.page = base + "/entravo/login.fcgi"
        cls.next_tick = 1000
        cls.next_address = 1

    @classmethod
    def tearDownClass(cls):
        cls.close_site()

    def strings(self, count):
        first = DiskFaults.next_tick
        DiskFaults.next_tick += count
        out = subprocess.run([self.make_logons, ALICE, str(first), str(count)], check=True,
                             capture_output=True, text=True).stdout
        return out.split()

    def address(self):
        # Each string from an address of its own: the replays below must not spend one budget.
        DiskFaults.next_address += 1
        return f"127.0.{DiskFaults.next_address // 250 + 10}.{DiskFaults.next_address % 250 + 1}"

    def get(self, query, address, cookie=None):
        """(status, Set-Cookie, body) of one request from address, redirects not followed."""
        url = urlsplit(self.page)
        connection = http.client.HTTPConnection(url.hostname, url.port, timeout=30, source_address=(address, 0))
        try:
            connection.request("GET", url.path + query, headers={"Cookie": cookie} if cookie else {})
            reply = connection.getresponse()
            return reply.status, reply.getheader("Set-Cookie", ""), reply.read().decode()
        finally:
            connection.close()

    def fail_syncs(self, error):
        self.faults.write_text(f"{error} 1 -wal\n")
        self.syncs.write_text("")

    def sync_lines(self):
        return self.syncs.read_text().splitlines()

    def assert_fault_met(self, error):
        words = {"EIO": "Input/output error", "ENOSPC": "No space left on device"}[error]
        self.assertTrue(any(line.endswith("-wal " + words) for line in self.sync_lines()), self.sync_lines())

    def together(self, strings, addresses):
        """The answers to one logon per string, all sent at once, and how long the last took."""
        began = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(len(strings)) as pool:
            answers = list(pool.map(lambda pair: self.get("?Authenticate=" + pair[0], pair[1]),
                                    zip(strings, addresses)))
        return answers, time.monotonic() - began

    def test_logons_that_meet_a_failed_sync_are_answered_as_the_store_holds_them(self):
        strings = self.strings(TOGETHER)
        _, unfaulted = self.together(strings, [self.address() for _ in strings])
        for error in ("EIO", "ENOSPC"):
            with self.subTest(error=error):
                strings = self.strings(TOGETHER)
                addresses = [self.address() for _ in strings]
                self.fail_syncs(error)
                answers, took = self.together(strings, addresses)
                self.assert_fault_met(error)
                statuses = sorted(status for status, _, _ in answers)
                self.assertEqual(set(), set(statuses) - {303, 503}, statuses)
                for string, address, (status, cookie, _) in zip(strings, addresses, answers):
                    again, _, _ = self.get("?Authenticate=" + string, address)
                    if status == 303:
                        self.assertEqual(409, again, "an accepted string is used up")
                        _, _, welcome = self.get("", address, cookie.split(";")[0])
                        self.assertIn("Signed in as alice", welcome, "and its session is open")
                    else:
                        self.assertEqual(303, again, f"a string answered {status} is not used up")
                print(f"{error}: {len(strings)} logons together answered {statuses} in {took * 1000:.0f} ms"
                      f" ({unfaulted * 1000:.0f} ms without a fault)")

    def test_a_failed_sync_is_never_trusted_again_the_store_is_written_afresh(self):
        self.fail_syncs("EIO")
        strings = self.strings(2)
        self.assertEqual(303, self.get("?Authenticate=" + strings[0], self.address())[0])
        self.assertEqual(303, self.get("?Authenticate=" + strings[1], self.address())[0])
        lines = self.sync_lines()
        failed = next(i for i, line in enumerate(lines) if line.endswith("-wal Input/output error"))
        later = lines[failed + 1:]
        # Linux reports a failed write-back once: a later sync of the same log proves nothing. The
        # database file itself, written again from the log and synced, does.
        self.assertTrue(any(line.endswith("/site.db ok") for line in later), lines)

    def test_a_verification_that_meets_a_failed_sync_tells_the_truth(self):
        client_id, key = self.site("client", "add", "disk-faults").split()
        client = Client(self.page, client_id, key)
        string = self.strings(1)[0]
        self.fail_syncs("EIO")
        first = client.verify(string).status
        self.assert_fault_met("EIO")
        self.assertEqual(("OK", "REPLAYED"), (first, client.verify(string).status))


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    if not shutil.which("lighttpd"):
        print("lighttpd is not installed: skipped")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1], verbosity=2)
