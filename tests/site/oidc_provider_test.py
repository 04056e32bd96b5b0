"""The OpenID Connect provider through a real lighttpd and login.fcgi, with authlib as the
application: the code flow with PKCE for a confidential client (either way of sending its
secret) and for a public one, each ID token checked against the JWKS, userinfo; then every
refusal an application meets: a reused code (whose first access token then dies), a wrong
secret, a wrong verifier, an unregistered redirect, an expired code, a revoked token, an old key
after a rotation. The browser is a cookie jar that follows no redirect; the sign-in is the
login page's, with strings made for the test's tokens.

    /usr/bin/python3 oidc_provider_test.py LOGIN_FCGI ENTRAVO_SITE MAKE_LOGONS
"""

import shutil
import sqlite3
import subprocess
import sys
import unittest
from pathlib import Path

try:
    import requests
    from authlib.integrations.requests_client import OAuth2Session, OAuthError
    from authlib.jose import JsonWebKey, jwt
    from authlib.jose.errors import JoseError
    from authlib.oidc.core import CodeIDToken
except ImportError as missing:
    # Debian's modules, for /usr/bin/python3 (python3-authlib, python3-requests).
    print(f"{missing}: skipped (run scripts/setup.sh)")
    sys.exit(77)

ROOT = Path(__file__).resolve().parents[2]
from site_fixture import SiteFixture  # noqa: E402
ALICE, BOB = "0123456789ABCDEF", "2800000000000042"
# Registered, never reached: the test reads the provider's redirects without following them.
REDIRECT = "http://127.0.0.1:9/callback"
VERIFIER = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk-and-some-more"
ID_TOKEN_LIFETIME = 600


class Provider(SiteFixture, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fcgi, site_program, cls.make_logons = sys.argv[1:4]
        cls.open_site("oidc-provider.", site_program)
        cls.site("enroll", ALICE, "alice")
        cls.site("enroll", BOB, "bob")
        base = cls.serve("server", cls.fcgi, mode="fcgi")
        cls.issuer = base + "/entravo/login.fcgi"
        cls.meta = requests.get(cls.issuer + "/.well-known/openid-configuration", timeout=10).json()
        cls.client_id, cls.secret = cls.site("oidc", "add", "wiki", REDIRECT).split()
        cls.tick = 100

    @classmethod
    def tearDownClass(cls):
        cls.close_site()

    def sql(self, statement):
        with sqlite3.connect(self.db) as database:
            database.execute(statement)

    # --- a browser signed in with a token, and an application -------------------------
    def browser(self, identity=ALICE):
        """A cookie jar that signed in through the login page with a fresh string."""
        Provider.tick += 1
        string = subprocess.run([self.make_logons, identity, str(self.tick), "1"], check=True,
                                capture_output=True, text=True).stdout.split()[0]
        browser = requests.Session()
        self.addCleanup(browser.close)
        signed_in = browser.get(self.issuer + "?Authenticate=" + string, allow_redirects=False, timeout=10)
        self.assertEqual(303, signed_in.status_code)
        return browser

    def application(self, client_id=None, secret=None, method="client_secret_basic", redirect_uri=REDIRECT):
        application = OAuth2Session(client_id or self.client_id, None if method == "none" else secret or self.secret,
                                    scope="openid profile", redirect_uri=redirect_uri, code_challenge_method="S256",
                                    token_endpoint_auth_method=method)
        self.addCleanup(application.close)
        return application

    def code_for(self, application, browser, nonce="nonce-1"):
        """The authorization as the application asks it and a signed-in browser follows it:
        the redirect back, which holds the code."""
        url, _ = application.create_authorization_url(self.meta["authorization_endpoint"], nonce=nonce,
                                                      code_verifier=VERIFIER)
        answer = browser.get(url, allow_redirects=False, timeout=10)
        self.assertEqual(302, answer.status_code, answer.text)
        self.assertTrue(answer.headers["Location"].startswith(REDIRECT + "?code="), answer.headers["Location"])
        return answer.headers["Location"]

    def tokens(self, application, location, verifier=VERIFIER):
        return application.fetch_token(self.meta["token_endpoint"], authorization_response=location,
                                       code_verifier=verifier)

    def jwks(self):
        return JsonWebKey.import_key_set(requests.get(self.meta["jwks_uri"], timeout=10).json())

    def claims(self, id_token, client_id=None, nonce="nonce-1"):
        claims = jwt.decode(id_token, self.jwks(), claims_cls=CodeIDToken,
                            claims_options={"iss": {"essential": True, "value": self.issuer}},
                            claims_params={"nonce": nonce, "client_id": client_id or self.client_id})
        claims.validate()
        return claims

    def refusal(self, call):
        with self.assertRaises(OAuthError) as refused:
            call()
        return refused.exception.error

    def userinfo(self, access_token):
        return requests.get(self.meta["userinfo_endpoint"], headers={"Authorization": "Bearer " + access_token},
                            timeout=10)

    # --- the flow -----------------------------------------------------------------------
    def test_the_code_flow_with_pkce_signs_the_account_in(self):
        self.assertEqual(self.issuer, self.meta["issuer"])
        for method in ("client_secret_basic", "client_secret_post"):
            application = self.application(method=method)
            token = self.tokens(application, self.code_for(application, self.browser()))
            claims = self.claims(token["id_token"])
            self.assertEqual(("alice", "alice"), (claims["preferred_username"], claims["name"]))
            self.assertEqual(self.client_id, claims["aud"])
            self.assertEqual(ID_TOKEN_LIFETIME, claims["exp"] - claims["iat"])
            self.assertLessEqual(claims["auth_time"], claims["iat"])
            info = application.get(self.meta["userinfo_endpoint"]).json()
            self.assertEqual({"sub": claims["sub"], "name": "alice", "preferred_username": "alice"}, info)
            self.assertEqual("openid profile", token["scope"])

        public_id = self.site("oidc", "add", "--public", "board", REDIRECT).strip()
        public = self.application(public_id, method="none")
        token = self.tokens(public, self.code_for(public, self.browser()))
        self.assertEqual("alice", self.claims(token["id_token"], public_id)["preferred_username"])
        bob = self.tokens(public, self.code_for(public, self.browser(BOB)))
        self.assertNotEqual(self.claims(token["id_token"], public_id)["sub"],
                            self.claims(bob["id_token"], public_id)["sub"])

    # --- the refusals ---------------------------------------------------------------------
    def test_a_reused_code_is_refused_and_revokes_what_its_first_use_issued(self):
        application = self.application()
        location = self.code_for(application, self.browser())
        token = self.tokens(application, location)
        self.assertEqual(200, self.userinfo(token["access_token"]).status_code)
        self.assertEqual("invalid_grant", self.refusal(lambda: self.tokens(self.application(), location)))
        revoked = self.userinfo(token["access_token"])
        self.assertEqual(401, revoked.status_code)
        self.assertIn('error="invalid_token"', revoked.headers["WWW-Authenticate"])

    def test_a_wrong_secret_is_refused(self):
        location = self.code_for(self.application(), self.browser())
        wrong = self.application(secret="not-the-secret")
        self.assertEqual("invalid_client", self.refusal(lambda: self.tokens(wrong, location)))
        answer = requests.post(self.meta["token_endpoint"], auth=(self.client_id, "not-the-secret"), timeout=10,
                               data={"grant_type": "authorization_code", "code": "x", "redirect_uri": REDIRECT})
        self.assertEqual((401, "invalid_client"), (answer.status_code, answer.json()["error"]))
        self.assertTrue(answer.headers["WWW-Authenticate"].startswith("Basic"))

    def test_a_wrong_verifier_is_refused(self):
        application = self.application()
        location = self.code_for(application, self.browser())
        self.assertEqual("invalid_grant", self.refusal(lambda: self.tokens(application, location, VERIFIER[:-1])))

    def test_an_unregistered_redirect_is_never_followed(self):
        application = self.application(redirect_uri=REDIRECT + "/other")
        url, _ = application.create_authorization_url(self.meta["authorization_endpoint"], nonce="n",
                                                      code_verifier=VERIFIER)
        answer = self.browser().get(url, allow_redirects=False, timeout=10)
        self.assertEqual(400, answer.status_code)
        self.assertNotIn("Location", answer.headers)
        self.assertIn("not registered for its application", answer.text)

    def test_an_expired_code_is_refused(self):
        application = self.application()
        location = self.code_for(application, self.browser())
        self.sql("UPDATE oidc_codes SET expires_at = expires_at - 60 WHERE used_at IS NULL")
        self.assertEqual("invalid_grant", self.refusal(lambda: self.tokens(application, location)))

    def test_a_revoked_token_ends_its_codes_and_access_tokens(self):
        application = self.application()
        browser = self.browser(BOB)
        token = self.tokens(application, self.code_for(application, browser))
        waiting = self.code_for(application, browser)
        self.site("revoke", BOB)
        self.assertEqual(401, self.userinfo(token["access_token"]).status_code)
        self.assertEqual("invalid_grant", self.refusal(lambda: self.tokens(application, waiting)))
        self.site("enroll", BOB, "bob")

    def test_an_old_key_is_refused_once_its_tokens_ran_out(self):
        application = self.application()
        old = self.tokens(application, self.code_for(application, self.browser()))["id_token"]
        self.site("oidc", "rotate")
        new = self.tokens(application, self.code_for(application, self.browser()))["id_token"]
        kids = [key["kid"] for key in requests.get(self.meta["jwks_uri"], timeout=10).json()["keys"]]
        self.assertEqual(2, len(kids))
        self.assertEqual([jwt.decode(new, self.jwks()).header["kid"], jwt.decode(old, self.jwks()).header["kid"]],
                         kids)
        # Retired as long ago as an ID token lives: the JWKS has let it go.
        self.sql(f"UPDATE oidc_keys SET retired_at = retired_at - {ID_TOKEN_LIFETIME + 1} WHERE retired_at IS NOT NULL")
        self.assertEqual(kids[:1], [key["kid"] for key in requests.get(self.meta["jwks_uri"], timeout=10).json()["keys"]])
        with self.assertRaises((JoseError, ValueError)):
            jwt.decode(old, self.jwks())
        self.assertEqual("alice", self.claims(new)["preferred_username"])


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    if not shutil.which("lighttpd"):
        print("lighttpd is not installed: skipped")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1], verbosity=2)
