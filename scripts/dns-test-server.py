#!/usr/bin/env python3
"""A loopback DNS server for Corvane's end-to-end tests (started by scripts/test-servers.sh).

Answers over UDP and TCP from the zone files in ZONE_DIR, read afresh for every query, so a
test adds the records it needs by writing a file of its own there (standard zone-file lines
with absolute names, for example
"_pop3s._tcp.example.test. 60 IN SRV 0 0 995 pop.example.test."). A name that no file holds
gets NXDOMAIN; a file that cannot be read is skipped.

Two kinds of names stand for servers that fail:
  anything under silent.test.  the query is dropped: no answer ever comes
  anything under slow.test.    the answer (NXDOMAIN) comes after --slow-seconds (default 30)

usage: dns-test-server.py [--slow-seconds N] ADDRESS PORT ZONE_DIR
"""

import argparse
import os
import signal
import sys
import threading
import time

from dnslib import QTYPE, RCODE, RR, DNSRecord
from dnslib.server import BaseResolver, DNSHandler, DNSServer


class Dropped(Exception):
    """The query is left unanswered."""


class Handler(DNSHandler):
    def get_reply(self, data):
        request = DNSRecord.parse(data)
        reply = self.server.resolver.resolve(request, self)
        if reply is None:
            raise Dropped()
        return reply.pack()

    def handle(self):
        try:
            super().handle()
        except Dropped:
            pass


class QuietLogger:
    def __getattr__(self, name):
        if name == "log_error":
            return lambda handler, e: print(f"error: {e}", file=sys.stderr, flush=True)
        return lambda *args: None


class ZoneDirectoryResolver(BaseResolver):
    def __init__(self, zone_dir, slow_seconds):
        self.zone_dir = zone_dir
        self.slow_seconds = slow_seconds

    def records(self):
        found = []
        try:
            names = sorted(os.listdir(self.zone_dir))
        except OSError:
            return found
        for name in names:
            if not name.endswith(".zone"):
                continue
            try:
                with open(os.path.join(self.zone_dir, name), encoding="utf-8") as f:
                    found.extend(RR.fromZone(f.read()))
            except Exception as e:  # a damaged file must not stop the server
                print(f"skipping {name}: {e}", file=sys.stderr, flush=True)
        return found

    def resolve(self, request, handler):
        qname = request.q.qname
        if qname.matchSuffix("silent.test."):
            return None
        if qname.matchSuffix("slow.test."):
            time.sleep(self.slow_seconds)
        reply = request.reply()
        qtype = QTYPE[request.q.qtype]
        for rr in self.records():
            if rr.rname == qname and (qtype == "ANY" or QTYPE[rr.rtype] == qtype):
                reply.add_answer(rr)
        if not reply.rr:
            known = any(rr.rname == qname for rr in self.records())
            if not known:
                reply.header.rcode = RCODE.NXDOMAIN
        return reply


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--slow-seconds", type=float, default=30)
    parser.add_argument("address")
    parser.add_argument("port", type=int)
    parser.add_argument("zone_dir")
    args = parser.parse_args()

    resolver = ZoneDirectoryResolver(args.zone_dir, args.slow_seconds)

    servers = [
        DNSServer(resolver, address=args.address, port=args.port, handler=Handler, logger=QuietLogger()),
        DNSServer(resolver, address=args.address, port=args.port, tcp=True, handler=Handler,
                  logger=QuietLogger()),
    ]
    for server in servers:
        server.start_thread()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    print(f"listening on {args.address}:{args.port}", flush=True)
    while not stop.is_set():
        stop.wait(1)
    for server in servers:
        server.stop()


if __name__ == "__main__":
    main()
