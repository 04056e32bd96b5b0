#!/usr/bin/env python3
"""What scripts/browse.py kept of one visit (NAME.json beside NAME.txt and NAME.png), for the
demo and the real-browser test.

  kept_page.py field JSON NAME          prints one field: url, final_url or title
  kept_page.py session JSON yes|no      exit status 0 when the page's session is as said: with
                                        "yes" the final address no longer carries the string
                                        and an HttpOnly, SameSite=Lax session cookie was set;
                                        with "no" there is no session cookie. Otherwise one
                                        line on standard error and status 1.
"""
import json
import sys

SESSION_COOKIE = "entravo_session"


def load(path):
    with open(path) as file:
        return json.load(file)


def session_problem(page, signed_in):
    """None when the page's session is as expected, otherwise what is wrong."""
    session = [cookie for cookie in page["cookies"] if cookie["name"] == SESSION_COOKIE]
    if not signed_in:
        return f"a session cookie was set: {page['cookies']}" if session else None
    if "Authenticate=" in page["final_url"]:
        return f"the final address still carries the string: {page['final_url']}"
    if not session or not session[0]["httpOnly"] or session[0]["sameSite"] != "Lax":
        return f"no HttpOnly, SameSite=Lax session cookie: {page['cookies']}"
    return None


def main(args):
    if len(args) == 3 and args[0] == "field":
        print(load(args[1])[args[2]])
        return 0
    if len(args) == 3 and args[0] == "session" and args[2] in ("yes", "no"):
        problem = session_problem(load(args[1]), args[2] == "yes")
        if problem:
            print(f"kept_page: {problem}", file=sys.stderr)
            return 1
        return 0
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
