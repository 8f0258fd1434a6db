#!/usr/bin/env python3
"""A loopback SMTP sink for Corvane's end-to-end tests (started by scripts/test-servers.sh).

Accepts every message and stores it in FOLDER/new/ as NNNNNN.eml (the data exactly as
received, dot-stuffing undone, CR LF line breaks) beside NNNNNN.envelope (one line
"MAIL FROM:<address>", then one line "RCPT TO:<address>" per recipient). Each pair is written
into FOLDER/tmp/ first and renamed into new/, envelope last, so a reader that sees the
envelope sees the whole message.

usage: smtp-sink.py HOST PORT FOLDER
"""

import asyncio
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = len([n for n in os.listdir(os.path.join(folder, "new")) if n.endswith(".eml")])

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        name = "%06d" % self.count
        tmp = os.path.join(self.folder, "tmp", name)
        new = os.path.join(self.folder, "new", name)
        with open(tmp + ".eml", "wb") as f:
            f.write(envelope.original_content)
        lines = ["MAIL FROM:<%s>" % envelope.mail_from]
        lines += ["RCPT TO:<%s>" % r for r in envelope.rcpt_tos]
        with open(tmp + ".envelope", "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        os.rename(tmp + ".eml", new + ".eml")
        os.rename(tmp + ".envelope", new + ".envelope")
        return "250 OK queued as " + name


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    host, port, folder = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    for sub in ("tmp", "new"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    handler = Sink(folder)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(
        loop.create_server(
            lambda: SMTP(handler, hostname="sink.corvane.test", loop=loop), host=host, port=port
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
