"""What the operator sees, read by other programs' readers: the metrics by the Prometheus
client's own parser (every value and label exactly as written, each family once, the
histogram whole), the admin page's plots as well-formed SVG and its HTML with every element
closed.

    /usr/bin/python3 report_sample_test.py SITE_REPORT_SAMPLE
"""

import math
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree
from html.parser import HTMLParser

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    print("report_sample_test: python3-prometheus-client is not installed (scripts/setup.sh)", file=sys.stderr)
    sys.exit(77)

SAMPLE = None
SVG = "{http://www.w3.org/2000/svg}"


def sample(what):
    return subprocess.run([SAMPLE, what], capture_output=True, text=True, check=True).stdout


class Metrics(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.text = sample("metrics")
        cls.families = list(text_string_to_metric_families(cls.text))
        cls.by_name = {family.name: family for family in cls.families}

    def values(self, name):
        return {tuple(sorted(s.labels.items())): s.value for s in self.by_name[name].samples}

    def test_each_family_once_in_name_order(self):
        names = [family.name for family in self.families]
        self.assertEqual(sorted(names), names)
        self.assertEqual(len(set(names)), len(names))
        self.assertEqual({"entravo_request_seconds": "histogram", "entravo_sample": "counter",
                          "entravo_sample_value": "gauge", "entravo_sign_ins": "counter"},
                         {family.name: family.type for family in self.families})

    def test_counts_and_escaped_text_read_back_exactly(self):
        # The parser reads every value as a float; the text keeps the count whole.
        self.assertEqual({(("outcome", "accepted"),): 3, (("outcome", "not-genuine"),): float(2**63 - 1)},
                         self.values("entravo_sign_ins"))
        self.assertIn('\nentravo_sign_ins_total{outcome="not-genuine"} 9223372036854775807\n', self.text)
        sample_family = self.by_name["entravo_sample"]
        self.assertEqual("Help with a \\ backslash\nand a second line.", sample_family.documentation)
        self.assertEqual({"path": "C:\\dir", "quote": 'say "hi"', "lines": "one\ntwo"}, sample_family.samples[0].labels)

    def test_numbers_of_every_kind(self):
        values = {s.labels["kind"]: s.value for s in self.by_name["entravo_sample_value"].samples}
        self.assertEqual(0.1, values["fraction"])
        self.assertEqual(1.5e300, values["large"])
        self.assertEqual(math.inf, values["plus"])
        self.assertEqual(-math.inf, values["minus"])
        self.assertTrue(math.isnan(values["nan"]))

    def test_histogram_buckets_rise_to_the_count(self):
        samples = self.by_name["entravo_request_seconds"].samples
        buckets = [(s.labels["le"], s.value) for s in samples if s.name.endswith("_bucket")]
        bounds = [float(le) for le, _ in buckets]
        self.assertEqual(sorted(bounds), bounds)
        self.assertEqual(("0.0005", 0), buckets[0])
        self.assertEqual(("0.001", 3), buckets[1])
        self.assertEqual(("10", 4), buckets[-2])
        self.assertEqual(("+Inf", 5), buckets[-1])
        counts = [count for _, count in buckets]
        self.assertEqual(sorted(counts), counts)
        rest = {s.name: s.value for s in samples if not s.name.endswith("_bucket")}
        self.assertEqual(5, rest["entravo_request_seconds_count"])
        self.assertAlmostEqual(30.023, rest["entravo_request_seconds_sum"])


class ClosedElements(HTMLParser):
    VOID = {"meta", "input", "br", "img", "link", "hr"}

    def __init__(self):
        super().__init__()
        self.open = []
        self.faults = []

    def handle_starttag(self, tag, attrs):
        if tag not in self.VOID:
            self.open.append(tag)

    def handle_startendtag(self, tag, attrs):
        pass

    def handle_endtag(self, tag):
        if not self.open or self.open.pop() != tag:
            self.faults.append(f"</{tag}> at {self.getpos()}")


class AdminPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.page = sample("admin")

    def test_every_element_closed_in_order(self):
        parser = ClosedElements()
        parser.feed(self.page)
        parser.close()
        self.assertEqual([], parser.faults)
        self.assertEqual([], parser.open)

    def test_plots_are_well_formed_svg_with_title_and_description(self):
        plots = self.page.split("<svg ")[1:]
        self.assertEqual(2, len(plots))
        for plot in plots:
            svg = ElementTree.fromstring("<svg " + plot[: plot.index("</svg>") + len("</svg>")])
            self.assertEqual("img", svg.get("role"))
            title, desc = svg.find(SVG + "title"), svg.find(SVG + "desc")
            self.assertEqual(svg.get("aria-labelledby"), f"{title.get('id')} {desc.get('id')}")
            self.assertIn("refused for a spent budget", desc.text)


if __name__ == "__main__":
    SAMPLE = sys.argv.pop(1)
    unittest.main()
