#!/usr/bin/env python3
"""A loopback SMTP sink for Corvane's end-to-end tests (started by scripts/test-servers.sh).

Accepts every message and stores it in FOLDER/new/ as NNNNNN.eml (the data exactly as
received, dot-stuffing undone, CR LF line breaks) beside NNNNNN.envelope (one line
"MAIL FROM:<address>", then one line "RCPT TO:<address>" per recipient, then "TLS yes" or
"TLS no" and, after a login, "AUTH <user>"). Each pair is written into FOLDER/tmp/ first and
renamed into new/, envelope last, so a reader that sees the envelope sees the whole message.

As a submission server it takes mail only from a client that has logged in with AUTH PLAIN or
LOGIN, and offers the login only over TLS: with --starttls the client must secure the
connection with STARTTLS first (mail before it is refused); with --tls the connection is TLS
from the first byte. Several sinks may share FOLDER when each has a --prefix of its own.

With --oauth INTROSPECTION_URL the login is AUTH XOAUTH2 or OAUTHBEARER (RFC 7628) instead: the
access token is checked at the test authorization server's introspection endpoint, and must be
active for the very user named in the response; a refused token gets the JSON error challenge
and then 535, as the large providers answer.

usage: smtp-sink.py [--prefix P] [--starttls | --tls] [--cert PEM --key PEM]
                    [--login USER:PASSWORD | --oauth URL] HOST PORT FOLDER
"""

import argparse
import asyncio
import base64
import json
import os
import signal
import ssl
import sys
import urllib.parse
import urllib.request

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword


class Sink:
    def __init__(self, folder, prefix):
        self.folder = folder
        self.prefix = prefix
        self.count = len(
            [n for n in os.listdir(os.path.join(folder, "new"))
             if n.startswith(prefix) and n.endswith(".eml")]
        )

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        name = "%s%06d" % (self.prefix, self.count)
        tmp = os.path.join(self.folder, "tmp", name)
        new = os.path.join(self.folder, "new", name)
        with open(tmp + ".eml", "wb") as f:
            f.write(envelope.original_content)
        lines = ["MAIL FROM:<%s>" % envelope.mail_from]
        lines += ["RCPT TO:<%s>" % r for r in envelope.rcpt_tos]
        lines.append("TLS yes" if session.ssl else "TLS no")
        if session.authenticated:
            who = session.auth_data
            if not isinstance(who, bytes):
                who = session.login_data
            lines.append("AUTH %s" % who.decode("utf-8", "replace"))
        with open(tmp + ".envelope", "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        os.rename(tmp + ".eml", new + ".eml")
        os.rename(tmp + ".envelope", new + ".envelope")
        return "250 OK queued as " + name


class Checker:
    """Accepts exactly one user name and password."""

    def __init__(self, login):
        user, _, password = login.partition(":")
        self.user = user.encode()
        self.password = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        if (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
                and auth_data.password == self.password):
            return AuthResult(success=True, auth_data=auth_data)
        return AuthResult(success=False, handled=False)


def sasl_token(mechanism, response):
    """The user and token of an XOAUTH2 or OAUTHBEARER initial response, or (None, None)."""
    fields = {}
    text = response.decode("utf-8", "replace")
    if mechanism == "OAUTHBEARER":
        header, _, text = text.partition("\x01")
        parts = header.split(",")
        if len(parts) < 2 or parts[0] not in ("n", "y"):
            return None, None
        if parts[1].startswith("a="):
            fields["user"] = parts[1][2:].replace("=2C", ",").replace("=3D", "=")
    for pair in text.split("\x01"):
        key, sep, value = pair.partition("=")
        if sep:
            fields[key] = value
    auth = fields.get("auth", "")
    if not auth.startswith("Bearer "):
        return None, None
    return fields.get("user"), auth[len("Bearer "):]


class OAuthLogin(Sink):
    """A sink whose login is an OAuth access token, checked by introspection."""

    def __init__(self, folder, prefix, introspection):
        super().__init__(folder, prefix)
        self.introspection = introspection

    def active_user(self, token):
        data = urllib.parse.urlencode({"token": token}).encode()
        try:
            with urllib.request.urlopen(self.introspection, data, timeout=10) as reply:
                answer = json.load(reply)
        except OSError:
            return None
        return answer.get("username") if answer.get("active") is True else None

    async def oauth(self, server, args, mechanism):
        # args: the words after AUTH, the mechanism first.
        if len(args) > 1 and args[1] != "=":
            initial = args[1]
        else:
            initial = await server.challenge_auth("", encode_to_b64=False)
            if initial is MISSING:
                return AuthResult(success=False, handled=True)
        try:
            response = initial if isinstance(initial, bytes) else base64.b64decode(initial)
        except ValueError:
            return AuthResult(success=False, handled=False)
        user, token = sasl_token(mechanism, response)
        owner = self.active_user(token) if token else None
        if owner is None or (user is not None and user != owner):
            challenge = json.dumps({"status": "invalid_token", "scope": "mail",
                                    "schemes": "bearer"}).encode()
            await server.challenge_auth(challenge)
            return AuthResult(success=False, handled=False)
        return AuthResult(success=True, auth_data=owner.encode())

    async def auth_XOAUTH2(self, server, args):
        return await self.oauth(server, args, "XOAUTH2")

    async def auth_OAUTHBEARER(self, server, args):
        return await self.oauth(server, args, "OAUTHBEARER")


class TlsSubmission(SMTP):
    """The server side of a connection that is TLS from the first byte: the login is offered
    at once, since nothing travels in plain text."""

    def connection_made(self, transport):
        super().connection_made(transport)
        self.session.ssl = transport.get_extra_info("cipher")
        self._auth_require_tls = False


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--prefix", default="")
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--starttls", action="store_true")
    mode.add_argument("--tls", action="store_true")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--login")
    parser.add_argument("--oauth")
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("folder")
    args = parser.parse_args()
    host, port, folder = args.host, args.port, args.folder
    for sub in ("tmp", "new"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    handler = OAuthLogin(folder, args.prefix, args.oauth) if args.oauth else Sink(folder, args.prefix)
    context = None
    if args.starttls or args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    options = {}
    if args.login:
        options = dict(authenticator=Checker(args.login), auth_required=True,
                       auth_require_tls=True)
    if args.oauth:
        options = dict(auth_required=True, auth_require_tls=True,
                       auth_exclude_mechanism=["LOGIN", "PLAIN"])
    if args.starttls:
        options.update(tls_context=context, require_starttls=True)
    factory = TlsSubmission if args.tls else SMTP
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(
        loop.create_server(
            lambda: factory(handler, hostname="sink.corvane.test", loop=loop, **options),
            host=host, port=port, ssl=context if args.tls else None
        )
    )
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.add_signal_handler(signal.SIGINT, loop.stop)
    try:
        loop.run_forever()
    finally:
        server.close()
        loop.run_until_complete(server.wait_closed())
        loop.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
