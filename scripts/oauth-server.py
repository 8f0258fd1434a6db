#!/usr/bin/env python3
"""A small OAuth 2.0 authorization server for Corvane's end-to-end tests (started by
scripts/test-servers.sh on 127.0.0.1). Python's standard library only; everything lives in
memory and is gone when it stops.

It approves every request of its one client at once, so tests run without a person:

  GET  /authorize     the authorization-code grant with PKCE (S256 only): redirects at once to
                      the redirect_uri, which must be http://127.0.0.1:PORT/..., with a code and
                      the state. The user is the login_hint (an address's part before "@"), or
                      DEFAULT_USER. A login_hint starting with "deny" is refused with
                      error=access_denied.
  POST /token         grant_type authorization_code (code_verifier checked against the
                      challenge, redirect_uri against the authorization's), refresh_token, and
                      urn:ietf:params:oauth:grant-type:device_code; errors as RFC 6749 5.2
                      ({"error": "invalid_grant", "error_description": ...}, HTTP 400).
  POST /device        RFC 8628 3.1: a device code; the first poll of it answers
                      authorization_pending, the next one is approved (user as for
                      /authorize, from the login_hint form field of /device).
  POST /introspect    RFC 7662, for Dovecot's oauth2 passdb and the SMTP test server: form
                      token=...; answers {"active": true, "username": USER, ...} or
                      {"active": false}.

and, for the tests to change its state (POST, form or query field user=USER):

  /admin/expire       every access token of USER stops being active (the client still
                      believes it valid); the refresh token stays good
  /admin/revoke       every token of USER, refresh tokens included, is revoked
  /admin/stall        seconds=N: the token endpoint answers only after N seconds from now on
                      (0 ends it)
  /admin/lifetime     seconds=N: the expires_in of access tokens issued from now on
  GET /admin/stats    {"refreshes": N, "codes": N, "devices": N} per user=USER

usage: oauth-server.py HOST PORT CLIENT_ID DEFAULT_USER
"""

import base64
import hashlib
import json
import secrets
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOCK = threading.Lock()
STATE = {
    "codes": {},  # code -> {user, challenge, redirect_uri}
    "access": {},  # token -> {user, active}
    "refresh": {},  # token -> {user, active}
    "devices": {},  # device_code -> {user, polls}
    "stats": {},  # user -> {refreshes, codes, devices}
    "stall": 0.0,
    "lifetime": 3600,
}


def stat(user, key):
    entry = STATE["stats"].setdefault(user, {"refreshes": 0, "codes": 0, "devices": 0})
    entry[key] += 1


def issue(user):
    access = "at-" + secrets.token_urlsafe(24)
    refresh = "rt-" + secrets.token_urlsafe(24)
    STATE["access"][access] = {"user": user, "active": True}
    STATE["refresh"][refresh] = {"user": user, "active": True}
    return {"access_token": access, "refresh_token": refresh, "token_type": "Bearer",
            "expires_in": STATE["lifetime"], "scope": "mail"}


class Handler(BaseHTTPRequestHandler):
    server_version = "CorvaneTestAuth/1"

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    def answer(self, status, body, headers=None):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        for key, value in (headers or {}).items():
            self.send_header(key, value)
        self.end_headers()
        self.wfile.write(data)

    def error(self, code, description, status=400):
        self.answer(status, {"error": code, "error_description": description})

    def form(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode() if length else ""
        query = urllib.parse.urlsplit(self.path).query
        fields = dict(urllib.parse.parse_qsl(query))
        fields.update(urllib.parse.parse_qsl(body))
        return fields

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        fields = dict(urllib.parse.parse_qsl(url.query))
        if url.path == "/authorize":
            return self.authorize(fields)
        if url.path == "/admin/stats":
            with LOCK:
                entry = STATE["stats"].get(fields.get("user", ""),
                                           {"refreshes": 0, "codes": 0, "devices": 0})
            return self.answer(200, entry)
        self.error("not_found", "no such page", 404)

    def authorize(self, fields):
        redirect = fields.get("redirect_uri", "")
        target = urllib.parse.urlsplit(redirect)
        if target.scheme != "http" or target.hostname != "127.0.0.1":
            return self.error("invalid_request", "the redirect must go to 127.0.0.1")
        if fields.get("client_id") != self.server.client_id:
            return self.error("unauthorized_client", "unknown client")
        if fields.get("code_challenge_method") != "S256" or not fields.get("code_challenge"):
            return self.error("invalid_request", "PKCE with S256 is required")
        hint = fields.get("login_hint", "")
        user = hint.split("@")[0] if hint else self.server.default_user
        params = {"state": fields.get("state", "")}
        if user.startswith("deny"):
            params.update(error="access_denied", error_description="The user said no.")
        else:
            code = "code-" + secrets.token_urlsafe(16)
            with LOCK:
                STATE["codes"][code] = {"user": user, "challenge": fields["code_challenge"],
                                        "redirect_uri": redirect}
                stat(user, "codes")
            params["code"] = code
        separator = "&" if target.query else "?"
        self.send_response(302)
        self.send_header("Location", redirect + separator + urllib.parse.urlencode(params))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        path = urllib.parse.urlsplit(self.path).path
        fields = self.form()
        if path == "/token":
            return self.token(fields)
        if path == "/device":
            return self.device(fields)
        if path == "/introspect":
            return self.introspect(fields)
        if path.startswith("/admin/"):
            return self.admin(path[len("/admin/"):], fields)
        self.error("not_found", "no such endpoint", 404)

    def token(self, fields):
        with LOCK:
            stall = STATE["stall"]
        if stall:
            time.sleep(stall)
        if fields.get("client_id") != self.server.client_id:
            return self.error("invalid_client", "unknown client", 401)
        grant = fields.get("grant_type")
        with LOCK:
            if grant == "authorization_code":
                entry = STATE["codes"].pop(fields.get("code", ""), None)
                if entry is None:
                    return self.error("invalid_grant", "The code is unknown or used.")
                verifier = fields.get("code_verifier", "").encode()
                challenge = base64.urlsafe_b64encode(
                    hashlib.sha256(verifier).digest()).rstrip(b"=").decode()
                if challenge != entry["challenge"]:
                    return self.error("invalid_grant", "The code verifier does not match.")
                if fields.get("redirect_uri") != entry["redirect_uri"]:
                    return self.error("invalid_grant", "The redirect address differs.")
                return self.answer(200, issue(entry["user"]))
            if grant == "refresh_token":
                entry = STATE["refresh"].get(fields.get("refresh_token", ""))
                if entry is None or not entry["active"]:
                    return self.error("invalid_grant", "Token has been expired or revoked.")
                stat(entry["user"], "refreshes")
                tokens = issue(entry["user"])
                # The refresh token stays; only the access token is new.
                del STATE["refresh"][tokens.pop("refresh_token")]
                return self.answer(200, tokens)
            if grant == "urn:ietf:params:oauth:grant-type:device_code":
                entry = STATE["devices"].get(fields.get("device_code", ""))
                if entry is None:
                    return self.error("expired_token", "The device code is unknown.")
                entry["polls"] += 1
                if entry["polls"] < 2:
                    return self.error("authorization_pending", "Not yet approved.")
                del STATE["devices"][fields["device_code"]]
                return self.answer(200, issue(entry["user"]))
        return self.error("unsupported_grant_type", "grant_type %r" % grant)

    def device(self, fields):
        if fields.get("client_id") != self.server.client_id:
            return self.error("invalid_client", "unknown client", 401)
        hint = fields.get("login_hint", "")
        user = hint.split("@")[0] if hint else self.server.default_user
        code = "dc-" + secrets.token_urlsafe(16)
        with LOCK:
            STATE["devices"][code] = {"user": user, "polls": 0}
            stat(user, "devices")
        base = "http://%s:%d" % self.server.server_address[:2]
        self.answer(200, {"device_code": code, "user_code": "WDJB-MJHT",
                          "verification_uri": base + "/activate",
                          "verification_uri_complete": base + "/activate?user_code=WDJB-MJHT",
                          "expires_in": 120, "interval": 1})

    def introspect(self, fields):
        token = fields.get("token", "")
        if not token:
            auth = self.headers.get("Authorization", "")
            if auth.lower().startswith("bearer "):
                token = auth[7:].strip()
        with LOCK:
            entry = STATE["access"].get(token)
            if entry is None or not entry["active"]:
                return self.answer(200, {"active": False})
            return self.answer(200, {"active": True, "username": entry["user"],
                                     "scope": "mail", "token_type": "Bearer"})

    def admin(self, action, fields):
        user = fields.get("user", "")
        with LOCK:
            if action == "expire":
                for entry in STATE["access"].values():
                    if entry["user"] == user:
                        entry["active"] = False
            elif action == "revoke":
                for table in ("access", "refresh"):
                    for entry in STATE[table].values():
                        if entry["user"] == user:
                            entry["active"] = False
            elif action == "stall":
                STATE["stall"] = float(fields.get("seconds", "0"))
            elif action == "lifetime":
                STATE["lifetime"] = int(fields.get("seconds", "3600"))
            else:
                return self.error("not_found", "no such action", 404)
        self.answer(200, {"done": action})


def main():
    if len(sys.argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    host, port, client_id, default_user = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    server = ThreadingHTTPServer((host, port), Handler)
    server.daemon_threads = True
    server.client_id = client_id
    server.default_user = default_user
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
