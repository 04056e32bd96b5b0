"""Asks an Entravo site whether a logon string is genuine and unused, and for whom.

Standard library only. Speaks version 2 of the protocol; see docs/verify-api.md.
"""

import base64
import hashlib
import hmac
import json
import secrets
import string
import time
import urllib.parse
import urllib.request
from dataclasses import dataclass

UNSIGNED = {"BAD_SIGNATURE", "NO_SUCH_CLIENT"}
VERSION = "2"
_NONCE_ALPHABET = string.ascii_letters + string.digits


class AnswerNotTrusted(Exception):
    """No answer, or one whose signature, nonce or time is not this request's."""


@dataclass(frozen=True)
class Verdict:
    status: str
    identity: str = ""
    account: str = ""
    signed: bool = True


def percent_encoded(text):
    """Every byte of the UTF-8 text but A-Za-z0-9-._~ as %XX, upper-case hexadecimal."""
    return urllib.parse.quote(text, safe="-._~")


def signed_text(fields):
    """The fields sorted by name, each name=value with both percent-encoded, joined with '&'."""
    return "&".join(f"{percent_encoded(name)}={percent_encoded(fields[name])}" for name in sorted(fields))


def signature(key, fields):
    digest = hmac.new(key, signed_text(fields).encode("utf-8"), hashlib.sha256).digest()
    return base64.b64encode(digest).decode("ascii")


def new_nonce(length=24):
    return "".join(secrets.choice(_NONCE_ALPHABET) for _ in range(length))


class Client:
    def __init__(self, url, client_id, key, timeout=10):
        self.url = url.rstrip("/") + "/verify"
        self.client_id = str(client_id)
        self.key = base64.b64decode(key, validate=True)
        if len(self.key) != 32:
            raise ValueError("a client key is base64 of 32 bytes")
        self.timeout = timeout

    def request_url(self, authenticator, nonce, at):
        fields = {"v": VERSION, "id": self.client_id, "nonce": nonce, "time": str(at), "authenticator": authenticator}
        fields["h"] = signature(self.key, fields)
        return self.url + "?" + urllib.parse.urlencode(fields)

    def verify(self, authenticator, nonce=None, at=None):
        """The site's verdict on authenticator; at is the request's time (UTC seconds, now by default)."""
        nonce = nonce or new_nonce()
        at = int(time.time()) if at is None else at
        try:
            with urllib.request.urlopen(self.request_url(authenticator, nonce, at), timeout=self.timeout) as reply:
                answer = json.loads(reply.read().decode("utf-8"))
        except (OSError, ValueError) as error:
            raise AnswerNotTrusted(f"no answer: {error}") from error
        return self.check(answer, nonce, at)

    def check(self, answer, nonce, at):
        """The verdict of an answer to the request with this nonce and time."""
        if not isinstance(answer, dict) or not all(isinstance(v, str) for v in answer.values()):
            raise AnswerNotTrusted("the answer is not an object of strings")
        status = answer.get("status", "")
        if (answer.get("v"), answer.get("nonce"), answer.get("time")) != (VERSION, nonce, str(at)):
            raise AnswerNotTrusted("the answer is for another request")
        if status in UNSIGNED or (status == "BACKEND_ERROR" and "h" not in answer):
            return Verdict(status, signed=False)
        fields = {name: value for name, value in answer.items() if name != "h"}
        if not hmac.compare_digest(signature(self.key, fields), answer.get("h", "")):
            raise AnswerNotTrusted("the answer's signature does not hold")
        return Verdict(status, answer.get("identity", ""), answer.get("account", ""))
