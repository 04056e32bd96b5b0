"""The verification API through a real lighttpd, driven by the Python client (version 2): every
status, a tampered signature, a reused nonce, a stale request, an account name that tries to
bend the signature, version 1 still answering, a client removed while in use, and one string
sent 50 times at once accepted once.

    verify_api_test.py LOGIN_CGI ENTRAVO_SITE MAKE_LOGONS
"""

import base64
import concurrent.futures
import json
import os
import hashlib
import hmac
import re
import shutil
import subprocess
import sys
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
from site_fixture import SiteFixture  # noqa: E402
sys.path.insert(0, str(ROOT / "site" / "clients" / "python"))
from entravo_verify import AnswerNotTrusted, Client, signature  # noqa: E402

WORKED_EXAMPLE_TIME = 1800000000

ALICE, BOB, STRANGER, AMPERSAND = "0123456789ABCDEF", "2800000000000042", "FEDCBA9876543210", "3000000000000007"


class NoRedirects(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args):
        return None


class VerifyApi(SiteFixture, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cgi, site_program, cls.make_logons = sys.argv[1:4]
        cls.open_site("verify-api.", site_program)
        cls.site("enroll", ALICE, "alice")
        cls.site("enroll", BOB, "bob")
        cls.site("revoke", BOB)
        cls.base = cls.start("server", cls.db)

    @classmethod
    def tearDownClass(cls):
        cls.close_site()

    @classmethod
    def start(cls, name, db):
        return cls.serve(name, cls.cgi, db) + "/entravo/login.cgi"

    def new_client(self, name):
        client_id, key = self.site("client", "add", name).split()
        return Client(self.base, client_id, key)

    def strings(self, identity, first, count=1):
        out = subprocess.run([self.make_logons, identity, str(first), str(count)], check=True,
                             capture_output=True, text=True).stdout
        return out.split()

    def test_every_verdict_on_a_string(self):
        client = self.new_client("verdicts")
        good, other = self.strings(ALICE, 100, 2)
        verdict = client.verify(good)
        self.assertEqual(("OK", ALICE, "alice"), (verdict.status, verdict.identity, verdict.account))
        self.assertEqual("REPLAYED", client.verify(good).status)
        changed = good[:40] + ("1" if good[40] == "0" else "0") + good[41:]
        self.assertEqual("NOT_GENUINE", client.verify(changed).status)
        self.assertEqual("MALFORMED", client.verify(good[1:]).status)
        self.assertEqual("UNKNOWN_TOKEN", client.verify(self.strings(STRANGER, 7)[0]).status)
        self.assertEqual("REVOKED", client.verify(self.strings(BOB, 7)[0]).status)
        self.assertEqual("OK", client.verify(other.lower()).status)

    def test_the_login_page_and_the_api_share_one_store(self):
        client = self.new_client("shared")
        string = self.strings(ALICE, 200)[0]
        with self.assertRaises(urllib.error.HTTPError) as redirect:
            urllib.request.build_opener(NoRedirects).open(self.base + "?Authenticate=" + string)
        self.assertEqual(303, redirect.exception.code)
        self.assertEqual("REPLAYED", client.verify(string).status)

    def test_requests_that_do_not_prove_their_client(self):
        client = self.new_client("proof")
        string = self.strings(ALICE, 300)[0]
        tampered = client.request_url(string, "abcdefghijklmnop0001", int(time.time())).replace("h=", "h=A", 1)
        self.assertEqual("BAD_SIGNATURE", self.fetch(tampered)["status"])
        wrong_key = Client(self.base, client.client_id, base64.b64encode(bytes(32)).decode())
        verdict = wrong_key.verify(string)
        self.assertEqual(("BAD_SIGNATURE", False), (verdict.status, verdict.signed))
        self.assertEqual("NO_SUCH_CLIENT", Client(self.base, 99999, base64.b64encode(bytes(32))).verify(string).status)
        self.assertEqual("OK", client.verify(string).status)  # none of them used the string up

    def test_a_reused_nonce_and_a_removed_client(self):
        client = self.new_client("nonces")
        first, second = self.strings(ALICE, 400, 2)
        self.assertEqual("OK", client.verify(first, nonce="SameNonceEachTime1").status)
        self.assertEqual("REPLAYED_REQUEST", client.verify(second, nonce="SameNonceEachTime1").status)
        self.assertEqual("MALFORMED", client.verify(second, nonce="short").status)
        self.site("client", "remove", client.client_id)
        self.assertEqual("NO_SUCH_CLIENT", client.verify(second).status)

    def test_an_answer_that_was_changed_is_not_trusted(self):
        client = self.new_client("answers")
        nonce, at = "abcdefghijklmnop9999", WORKED_EXAMPLE_TIME
        answer = {"v": "2", "status": "OK", "nonce": nonce, "time": str(at), "t": "2027-01-15T08:00:00Z",
                  "identity": ALICE, "account": "alice"}
        answer["h"] = signature(client.key, answer)
        self.assertEqual("OK", client.check(dict(answer), nonce, at).status)
        for changed, request in ((dict(answer, account="mallory"), (nonce, at)),
                                 (dict(answer), ("another-nonce-0000", at)),
                                 (dict(answer), (nonce, at + 1)),
                                 (dict(answer, v="1"), (nonce, at))):
            with self.assertRaises(AnswerNotTrusted):
                client.check(changed, *request)

    def test_an_account_name_cannot_bend_the_signature(self):
        self.site("enroll", AMPERSAND, "bob&identity=" + ALICE)
        client = self.new_client("bending")
        nonce, at = "abcdefghijklmnop7777", int(time.time())
        answer = self.fetch(client.request_url(self.strings(AMPERSAND, 600)[0], nonce, at))
        verdict = client.check(dict(answer), nonce, at)
        self.assertEqual(("OK", AMPERSAND, "bob&identity=" + ALICE), (verdict.status, verdict.identity, verdict.account))
        # A man in the middle moves the boundary: the same fields written as version 1 signs them.
        bent = dict(answer, account="bob", identity=ALICE + "&identity=" + AMPERSAND)
        with self.assertRaises(AnswerNotTrusted):
            client.check(bent, nonce, at)

    def test_a_captured_request_is_never_answered_again(self):
        client = self.new_client("captured")
        string = self.strings(ALICE, 700)[0]
        now = int(time.time())
        # A minute past the 300 s either way: a slow machine takes seconds to answer, so a request
        # at the edge is the unit test's to judge (Respond), not this one's.
        self.assertEqual("STALE_REQUEST", client.verify(string, at=now - 360).status)
        self.assertEqual("STALE_REQUEST", client.verify(string, at=now + 360).status)
        url = client.request_url(string, "abcdefghijklmnop5555", now)
        self.assertEqual("OK", self.fetch(url)["status"])
        self.assertEqual("REPLAYED_REQUEST", self.fetch(url)["status"])

    def test_version_1_still_answers(self):
        client = self.new_client("version-1")
        string = self.strings(ALICE, 800)[0]
        fields = {"id": client.client_id, "nonce": "abcdefghijklmnop6666", "authenticator": string}
        text = "&".join(f"{name}={fields[name]}" for name in sorted(fields))
        fields["h"] = base64.b64encode(hmac.new(client.key, text.encode(), hashlib.sha256).digest()).decode()
        answer = self.fetch(client.url + "?" + urllib.parse.urlencode(fields))
        self.assertEqual(("OK", "alice"), (answer["status"], answer["account"]))
        self.assertNotIn("v", answer)

    def test_a_guessing_client_is_held_and_a_broken_store_says_so(self):
        client = self.new_client("guesser")
        junk = "1" * 64
        statuses = [client.verify(junk).status for _ in range(21)]
        self.assertEqual(["NOT_GENUINE"] * 20 + ["RATE_LIMITED"], statuses)
        broken = self.work / "not-a-database"
        broken.write_text("not a database\n")
        verdict = Client(self.start("broken", str(broken)), client.client_id, base64.b64encode(client.key)).verify(junk)
        self.assertEqual(("BACKEND_ERROR", False), (verdict.status, verdict.signed))

    def test_one_string_sent_fifty_times_at_once_is_accepted_once(self):
        client = self.new_client("burst")
        string = self.strings(ALICE, 500)[0]
        with concurrent.futures.ThreadPoolExecutor(50) as pool:
            statuses = sorted(pool.map(lambda _: client.verify(string).status, range(50)))
        self.assertEqual(1, statuses.count("OK"))
        self.assertEqual(set(statuses) - {"OK"}, {"REPLAYED", "RATE_LIMITED"} & set(statuses))

    def test_the_documented_worked_example(self):
        doc = (ROOT / "docs" / "verify-api.md").read_text()
        key = re.search(r"Key `([^`]+)`", doc).group(1)
        request = re.findall(r"    GET (\S+verify\?v=2\S+)", doc)[-1]
        answer = json.loads(re.search(r"\n    (\{\"v\".*\})\n", doc).group(1))
        client = Client("https://x/entravo/login.cgi", 1, key)
        authenticator = re.search(r"authenticator=([0-9A-F]{64})", request).group(1)
        url = client.request_url(authenticator, answer["nonce"], WORKED_EXAMPLE_TIME)
        self.assertTrue(request.endswith(url.split("/verify", 1)[1]))
        verdict = client.check(answer, answer["nonce"], WORKED_EXAMPLE_TIME)
        self.assertEqual(("OK", "alice"), (verdict.status, verdict.account))

    def fetch(self, url):
        with urllib.request.urlopen(url) as reply:
            return json.loads(reply.read())


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    if not shutil.which("lighttpd"):
        print("lighttpd is not installed: skipped")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1], verbosity=2)
