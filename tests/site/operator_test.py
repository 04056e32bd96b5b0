"""What the operator sees, through a real lighttpd: a known load of sign-ins, refusals, spent
budgets, API calls and session checks, then /metrics read by the Prometheus client's own parser
and every count checked exactly, the same after a restart; the metrics refused to an address
not allowed them; the error log's lines and the 429 page's words; `entravo-site sign-ins`; and
the admin page's refusals: no session, another account, a post without this session's value.

    /usr/bin/python3 operator_test.py LOGIN_PROGRAM ENTRAVO_SITE MAKE_LOGONS

LOGIN_PROGRAM is login.fcgi (started by lighttpd; its answer times are shown too) or login.cgi.
Exit status 77 when lighttpd or the Prometheus client is missing.
"""

import http.client
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse
from pathlib import Path

try:
    import yaml
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    print("operator_test: python3-prometheus-client or python3-yaml is not installed (scripts/setup.sh)",
          file=sys.stderr)
    sys.exit(77)

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "site" / "clients" / "python"))
from entravo_verify import Client  # noqa: E402

SERVER = ROOT / "scripts" / "site-server.sh"
ALICE, BOB, DAVE, ERIN, STRANGER = ("0123456789ABCDEF", "2800000000000042", "3000000000000007",
                                    "4100000000000013", "FEDCBA9876543210")
HOME, GUESSER, SCRAPER = "127.0.0.2", "127.0.0.9", "127.0.0.1"
NETWORK = "127.0.1.0/24"
JUNK = "0" * 64


class Site:
    """The server of one test run, and every request it answered."""

    def __init__(self, program, site_program, make_logons):
        self.program, self.site_program, self.make_logons = program, site_program, make_logons
        self.work = Path(tempfile.mkdtemp(prefix="operator-test."))
        self.db = str(self.work / "site.db")
        self.answered = 0
        self.port = None

    def start(self):
        environment = dict(os.environ, ENTRAVO_SITE_METRICS_FROM=SCRAPER)
        mode = "fcgi" if self.program.endswith(".fcgi") else "cgi"
        base = subprocess.run([str(SERVER), "start", str(self.work / "server"), self.program, self.db, mode],
                              check=True, capture_output=True, text=True, env=environment).stdout.strip()
        self.port = int(base.rsplit(":", 1)[1])
        self.path = "/entravo/" + Path(self.program).name

    def stop(self):
        subprocess.run([str(SERVER), "stop", str(self.work / "server")], check=False)

    def command(self, *args):
        return subprocess.run([self.site_program, "--db", self.db, *args], check=True, capture_output=True,
                              text=True).stdout

    def strings(self, identity, first, count=1):
        return subprocess.run([self.make_logons, identity, str(first), str(count)], check=True,
                              capture_output=True, text=True).stdout.split()

    def request(self, sub_path="", query="", source=HOME, method="GET", cookie=None, body=None):
        """(status, headers, body) of one request from the source address."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30, source_address=(source, 0))
        headers = {"Cookie": cookie} if cookie else {}
        if body is not None:
            headers["Content-Type"] = "application/x-www-form-urlencoded"
        target = self.path + sub_path + ("?" + query if query else "")
        try:
            connection.request(method, target, body=body, headers=headers)
            response = connection.getresponse()
            self.answered += 1
            return response.status, dict(response.getheaders()), response.read().decode()
        finally:
            connection.close()

    def sign_in(self, string, source=HOME):
        status, headers, _ = self.request(query="Authenticate=" + string, source=source)
        cookie = headers.get("Set-Cookie", "").split(";")[0]
        return status, cookie

    def error_log(self):
        return (self.work / "server" / "error.log").read_text()


def readme_block(marker):
    """The README's indented block after <!-- MARKER -->, dedented."""
    lines = (ROOT / "README.md").read_text().split("\n")
    block = []
    for line in lines[lines.index(f"<!-- {marker} -->") + 1:]:
        if line and not line.startswith("    "):
            break
        block.append(line[4:])
    return "\n".join(block)


def metrics_of(text):
    """{(name, labels): value} of every sample, as Prometheus's parser reads the text."""
    return {(sample.name, tuple(sorted(sample.labels.items()))): sample.value
            for family in text_string_to_metric_families(text) for sample in family.samples}


class OperatorView(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = Site(*sys.argv[1:4])
        site = cls.site
        site.command("init")
        for identity, account in ((ALICE, "alice"), (BOB, "bob"), (DAVE, "dave"), (ERIN, "erin")):
            site.command("enroll", identity, account)
        site.command("revoke", DAVE)
        site.command("admin", "grant", "alice")
        site.start()
        cls.statuses = {}
        cls.load()
        cls.answered = site.answered
        cls.scraped = site.request("/metrics", source=SCRAPER)

    @classmethod
    def tearDownClass(cls):
        cls.site.stop()
        shutil.rmtree(cls.site.work, ignore_errors=True)

    @classmethod
    def load(cls):
        """The known load: every count below follows from it."""
        site, statuses = cls.site, cls.statuses
        first, second, third, fourth = site.strings(ALICE, 100, 4)
        statuses["alice"], cls.alice = site.sign_in(first)
        statuses["alice again"], cls.alice_two = site.sign_in(second)
        statuses["bob"], cls.bob = site.sign_in(site.strings(BOB, 100)[0])
        statuses["replay"] = site.request(query="Authenticate=" + first)[0]
        forged = third[:40] + ("1" if third[40] == "0" else "0") + third[41:]
        statuses["forged"] = [site.request(query="Authenticate=" + forged)[0] for _ in range(2)]
        statuses["malformed"] = site.request(query="Authenticate=" + third[2:])[0]
        statuses["stranger"] = site.request(query="Authenticate=" + site.strings(STRANGER, 5)[0])[0]
        statuses["revoked"] = site.request(query="Authenticate=" + site.strings(DAVE, 5)[0])[0]
        # One address spends its budget of 20, then a /24 its budget of 50 across five addresses.
        for _ in range(20):
            site.request(query="Authenticate=" + JUNK, source=GUESSER)
        cls.address_held = [site.request(query="Authenticate=" + JUNK, source=GUESSER) for _ in range(2)]
        for host in range(1, 6):
            for _ in range(10):
                site.request(query="Authenticate=" + JUNK, source=f"127.0.1.{host}")
        cls.network_held = site.request(query="Authenticate=" + JUNK, source="127.0.1.6")
        # The API: one acceptance, one replay, a wrong key and an unknown client.
        client_id, key = site.command("client", "add", "app").split()
        base = f"http://127.0.0.1:{site.port}{site.path}"
        client = Client(base, client_id, key)
        statuses["api"] = [client.verify(fourth).status, client.verify(fourth).status,
                           Client(base, client_id, "A" * 43 + "=").verify(fourth).status,
                           Client(base, 999, key).verify(fourth).status]
        site.answered += 4
        statuses["auth"] = [site.request("/auth", cookie=cls.alice)[0] for _ in range(2)]
        statuses["auth"].append(site.request("/auth")[0])
        statuses["metrics elsewhere"] = site.request("/metrics", source=HOME)[0]

    def test_the_load_was_answered_as_planned(self):
        self.assertEqual({"alice": 303, "alice again": 303, "bob": 303, "replay": 409, "forged": [403, 403],
                          "malformed": 400, "stranger": 403, "revoked": 403,
                          "api": ["OK", "REPLAYED", "BAD_SIGNATURE", "NO_SUCH_CLIENT"], "auth": [200, 200, 401],
                          "metrics elsewhere": 404}, self.statuses)

    def test_every_count_is_exactly_the_loads(self):
        status, headers, text = self.scraped
        self.assertEqual(200, status)
        self.assertEqual("text/plain; version=0.0.4; charset=utf-8", headers["Content-Type"])
        metrics = metrics_of(text)
        expected = {
            ("entravo_sign_ins_total", "outcome"): {"accepted": 4, "already-used": 2, "not-genuine": 72,
                                                    "malformed": 1, "not-enrolled": 1, "revoked": 1,
                                                    "too-many-failures": 3},
            ("entravo_budget_refusals_total", "kind"): {"address": 2, "network": 1},
            ("entravo_api_calls_total", "status"): {"OK": 1, "REPLAYED": 1, "BAD_SIGNATURE": 1, "NO_SUCH_CLIENT": 1},
            ("entravo_session_checks_total", "answer"): {"signed-in": 2, "not-signed-in": 1},
            ("entravo_store_errors_total", "kind"): {},
            ("entravo_tokens", "state"): {"active": 3, "revoked": 1},
        }
        for (name, label), values in expected.items():
            shown = {labels[0][1]: value for (sample, labels), value in metrics.items() if sample == name}
            self.assertEqual({key: float(value) for key, value in values.items()},
                             {key: value for key, value in shown.items() if value or key in values}, name)
        self.assertEqual(3, metrics[("entravo_sessions", ())])
        self.assertEqual(4, metrics[("entravo_used_strings", ())])
        self.assertGreater(metrics[("entravo_store_bytes", ())], 0)
        histogram = metrics.get(("entravo_request_seconds_count", ()))
        if self.site.program.endswith(".fcgi"):
            # Every answer before the scrape's own.
            self.assertEqual(self.answered, histogram)
            self.assertEqual(histogram, metrics[("entravo_request_seconds_bucket", (("le", "+Inf"),))])
        else:
            self.assertIsNone(histogram, "login.cgi keeps no answer times")

    def test_the_readmes_prometheus_configuration_reads_these_metrics(self):
        scrape = yaml.safe_load(readme_block("prometheus: scrape configuration"))["scrape_configs"][0]
        self.assertEqual("/entravo/login.fcgi/metrics", scrape["metrics_path"])
        rules = yaml.safe_load(readme_block("prometheus: alert rules"))["groups"][0]["rules"]
        shown = {(name, labels) for name, labels in metrics_of(self.scraped[2])}
        for rule in rules:
            for name, selector in re.findall(r"(entravo_\w+)(?:\{([^}]*)\})?", rule["expr"]):
                wanted = set(re.findall(r'(\w+)="([^"]*)"', selector))
                self.assertTrue(any(sample == name and wanted <= set(labels) for sample, labels in shown),
                                f"{rule['alert']}: {name} {wanted}")

    def test_the_counts_outlive_the_process(self):
        before = {key: value for key, value in metrics_of(self.site.request("/metrics", source=SCRAPER)[2]).items()
                  if not key[0].startswith("entravo_request_seconds") and key[0] != "entravo_store_bytes"}
        self.site.stop()
        self.site.start()
        after = metrics_of(self.site.request("/metrics", source=SCRAPER)[2])
        self.assertEqual(before, {key: after[key] for key in before})

    def test_the_error_log_names_each_sign_in_and_each_spent_budget_once(self):
        log = self.site.error_log()
        self.assertEqual(2, log.count(f"signed in: account alice, token {ALICE}, from {HOME}, through page"))
        self.assertEqual(1, log.count(f"signed in: account bob, token {BOB}, from {HOME}, through page"))
        self.assertEqual(1, len(re.findall(rf"signed in: account alice, token {ALICE}, from client:\d+, through api",
                                           log)))
        self.assertEqual(1, log.count(f"address {GUESSER} spent its budget of failed sign-ins"))
        self.assertEqual(1, log.count(f"network {NETWORK} spent its budget of failed sign-ins"))

    def test_the_429_page_says_whose_budget_was_spent(self):
        for status, headers, body in self.address_held:
            self.assertEqual((429, "60"), (status, headers["Retry-After"]))
            self.assertIn("Too many failed sign-ins came from your address.", body)
        status, _, body = self.network_held
        self.assertEqual(429, status)
        self.assertIn(f"came from your network ({NETWORK}).", body)

    def test_the_sign_ins_are_listed_newest_first(self):
        lines = [line.split(" ", 1) for line in self.site.command("sign-ins").splitlines()]
        times = [time for time, _ in lines]
        self.assertEqual(sorted(times, reverse=True), times)
        self.assertEqual(sorted([f"{ALICE} {HOME} page alice"] * 2 + [f"{BOB} {HOME} page bob", f"{ALICE} client:1 api alice"]),
                         sorted(rest for _, rest in lines))
        self.assertEqual([f"{BOB} {HOME} page bob"], [line.split(" ", 1)[1] for line in
                                                      self.site.command("sign-ins", "--account", "bob").splitlines()])

    def test_the_admin_page_refuses_all_but_its_own_form_from_an_administrator(self):
        site = self.site
        self.assertEqual(401, site.request("/admin")[0])
        self.assertEqual(403, site.request("/admin", cookie=self.bob)[0])
        status, headers, page = site.request("/admin", cookie=self.alice)
        self.assertEqual(200, status)
        self.assertIn("default-src 'none'", headers["Content-Security-Policy"])
        csrf = re.search(r'name="csrf" value="([0-9a-f]{64})"', page).group(1)
        other = re.search(r'name="csrf" value="([0-9a-f]{64})"',
                          site.request("/admin", cookie=self.alice_two)[2]).group(1)
        self.assertNotEqual(csrf, other, "each session has a value of its own")
        for body, cookie in ((f"revoke={ERIN}", self.alice), (f"revoke={ERIN}&csrf={other}", self.alice),
                             (f"revoke={ERIN}&csrf={csrf}", self.bob), (f"revoke={ERIN}&csrf={csrf}", None),
                             (f"revoke={ERIN}&csrf={csrf}&x=1", self.alice),
                             (f"revoke={ERIN}&csrf={csrf}" + "&" * 200, self.alice)):
            self.assertEqual(403, site.request("/admin", method="POST", cookie=cookie, body=body)[0], body)
        self.assertIn(f"{ERIN} active erin", site.command("list"))
        status, _, page = site.request("/admin", method="POST", cookie=self.alice,
                                       body=urllib.parse.urlencode({"revoke": ERIN, "csrf": csrf}))
        self.assertEqual(200, status)
        self.assertIn(f"Token {ERIN} revoked; its sessions are ended.", page)
        self.assertIn(f"{ERIN} revoked erin", site.command("list"))
        self.assertIn(f"admin page: alice revoked token {ERIN}", site.error_log())


if __name__ == "__main__":
    for tool in ("lighttpd",):
        if not shutil.which(tool):
            print(f"operator_test: {tool} is not installed: skipped", file=sys.stderr)
            sys.exit(77)
    unittest.main(argv=sys.argv[:1] + sys.argv[4:])
