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

usage: smtp-sink.py [--prefix P] [--starttls | --tls] [--cert PEM --key PEM]
                    [--login USER:PASSWORD] HOST PORT FOLDER
"""

import argparse
import asyncio
import os
import signal
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


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
            lines.append("AUTH %s" % session.login_data.decode("utf-8", "replace"))
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
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("folder")
    args = parser.parse_args()
    host, port, folder = args.host, args.port, args.folder
    for sub in ("tmp", "new"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    handler = Sink(folder, args.prefix)
    context = None
    if args.starttls or args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    options = {}
    if args.login:
        options = dict(authenticator=Checker(args.login), auth_required=True,
                       auth_require_tls=True)
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
