"""What scripts/browse.py kept of one visit (NAME.json beside NAME.txt and NAME.png), read for
the demo and the real-browser test."""
import json

SESSION_COOKIE = "entravo_session"


def load(path):
    with open(path) as file:
        return json.load(file)


def session_problem(page, signed_in):
    """None when the page's session is as expected, otherwise what is wrong. Signed in: the
    final address no longer carries the string and an HttpOnly, SameSite=Lax session cookie
    was set; not signed in: no session cookie at all."""
    session = [cookie for cookie in page["cookies"] if cookie["name"] == SESSION_COOKIE]
    if not signed_in:
        return f"a session cookie was set: {page['cookies']}" if session else None
    if "Authenticate=" in page["final_url"]:
        return f"the final address still carries the string: {page['final_url']}"
    if not session or not session[0]["httpOnly"] or session[0]["sameSite"] != "Lax":
        return f"no HttpOnly, SameSite=Lax session cookie: {page['cookies']}"
    return None
