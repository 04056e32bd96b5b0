"""Asks an Entravo site whether a logon string is genuine and unused, and for whom.

Standard library only. See docs/verify-api.md for the protocol.
"""

import base64
import hashlib
import hmac
import json
import secrets
import string
import urllib.parse
import urllib.request
from dataclasses import dataclass

UNSIGNED = {"BAD_SIGNATURE", "NO_SUCH_CLIENT"}
_NONCE_ALPHABET = string.ascii_letters + string.digits


class AnswerNotTrusted(Exception):
    """No answer, or one whose signature or nonce is not this request's."""


@dataclass(frozen=True)
class Verdict:
    status: str
    identity: str = ""
    account: str = ""
    signed: bool = True


def signed_text(fields):
    """The fields sorted by name, each name=value, joined with '&'."""
    return "&".join(f"{name}={fields[name]}" for name in sorted(fields))


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

    def request_url(self, authenticator, nonce):
        fields = {"id": self.client_id, "nonce": nonce, "authenticator": authenticator}
        fields["h"] = signature(self.key, fields)
        return self.url + "?" + urllib.parse.urlencode(fields)

    def verify(self, authenticator, nonce=None):
        nonce = nonce or new_nonce()
        try:
            with urllib.request.urlopen(self.request_url(authenticator, nonce), timeout=self.timeout) as reply:
                answer = json.loads(reply.read().decode("utf-8"))
        except (OSError, ValueError) as error:
            raise AnswerNotTrusted(f"no answer: {error}") from error
        return self.check(answer, nonce)

    def check(self, answer, nonce):
        if not isinstance(answer, dict) or not all(isinstance(v, str) for v in answer.values()):
            raise AnswerNotTrusted("the answer is not an object of strings")
        status = answer.get("status", "")
        if answer.get("nonce") != nonce:
            raise AnswerNotTrusted("the answer is for another request")
        if status in UNSIGNED or (status == "BACKEND_ERROR" and "h" not in answer):
            return Verdict(status, signed=False)
        fields = {name: value for name, value in answer.items() if name != "h"}
        if not hmac.compare_digest(signature(self.key, fields), answer.get("h", "")):
            raise AnswerNotTrusted("the answer's signature does not hold")
        return Verdict(status, answer.get("identity", ""), answer.get("account", ""))
