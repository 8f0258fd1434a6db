#!/usr/bin/env python3
"""Writes the seeds that cross each size limit of the message reader and the list-file reader
(OUT/{message,pop3reply,listfile}/, names beginning with "limit-"). They are made when the
fuzzers run (scripts/fuzz.sh) rather than kept in the repository: large, and fully described
here. Each stays under the
inputs that scripts/fuzz.sh allows its target (256 KiB, 64 KiB for list files), and crosses the
limits of the fuzz build (MessageLimits and the inflation allowance under
FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION); where it fits, the release limit too.
Usage: python3 fuzz/limit_seeds.py OUT"""

import base64
import os
import struct
import sys
import zlib

CRLF = b"\r\n"


def lines(*ls):
    return b"".join(line + CRLF for line in ls)


def messages():
    """name -> message text (header, empty line, body), without the end line."""
    out = {}
    # A line of 16,385 characters: one more than any line may have.
    out["long-line"] = lines(b"From: a@b.example", b"Subject: " + b"x" * 16376, b"", b"body")
    # 10,001 header lines: over the release limit (10,000) and the fuzz limit (1,000).
    out["header-lines"] = lines(*[b"X-N: %d" % i for i in range(10001)], b"", b"body")
    # 80 KB of header: over the fuzz build's 64 KiB (the release limit is 4 MiB).
    out["header-bytes"] = lines(*[b"X-Big: " + b"y" * 16000 for _ in range(5)], b"", b"body")
    # 10,001 parts: over both limits.
    parts = [b"Content-Type: multipart/mixed; boundary=A", b""]
    for _ in range(10001):
        parts += [b"--A", b"", b"x"]
    out["parts"] = lines(*parts, b"--A--")
    # 33 nested multiparts: one deeper than allowed.
    nested = [b"Content-Type: multipart/mixed; boundary=b0", b""]
    for i in range(1, 34):
        nested += [b"--b%d" % (i - 1), b"Content-Type: multipart/mixed; boundary=b%d" % i, b""]
    out["depth"] = lines(*nested)
    # 140,000 decoded bytes: over the fuzz build's 128 KiB (the release limit is 512 MiB).
    encoded = base64.encodebytes(bytes(range(256)) * 547).rstrip(b"\n").split(b"\n")
    out["decoded-bytes"] = lines(
        b"Content-Type: multipart/mixed; boundary=Z", b"", b"--Z",
        b"Content-Type: application/octet-stream; name=\"d.bin\"",
        b"Content-Transfer-Encoding: base64", b"", *encoded, b"--Z--")
    # 2,100 header lines in three parts: over the fuzz build's 2,000 for all parts together
    # (the release limit is 100,000).
    heads = [b"Content-Type: multipart/mixed; boundary=H", b""]
    for _ in range(3):
        heads += [b"--H"] + [b"X-P: p"] * 700 + [b"", b"x"]
    out["part-header-lines"] = lines(*heads, b"--H--")
    # 20,001 lines of text: over the fuzz build's 20,000 (the release limit is 4,000,000).
    out["text-lines"] = lines(b"Subject: many lines", b"", *([b"a"] * 20001))
    return out


def stuffed(message):
    return b"".join(
        (b"." + line if line.startswith(b".") else line) + CRLF
        for line in message.split(CRLF)[:-1])


def session(top, retr):
    """A POP3 conversation as the fuzz target reads it: the first byte picks the chunk size,
    then greeting, login, STAT, LIST, TOP 1 0 with this header, LIST 1, TOP 2 0, LIST 2,
    TOP 3 0 refused, RETR 1 with this message, RETR 2 refused, DELE, RSET, QUIT."""
    return (b"\0" + lines(b"+OK ready", b"+OK", b"+OK logged in", b"+OK 2 320",
                          b"+OK 2 messages", b"1 120", b"2 200", b".", b"+OK")
            + stuffed(top) + lines(b".", b"+OK 1 120", b"+OK", b"Subject: two", b"", b".",
                                   b"+OK 2 200", b"-ERR no such message", b"+OK 120 octets")
            + stuffed(retr) + lines(b".", b"-ERR no such message", b"+OK deleted", b"+OK",
                                    b"+OK bye"))


def write(out, target, name, data):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: limit_seeds.py OUT")
    out = sys.argv[1]
    for name, message in messages().items():
        write(out, "message", "limit-%s.eml" % name, message + b"." + CRLF)
    m = messages()
    header_only = lambda msg: msg.split(CRLF + CRLF)[0] + CRLF + CRLF
    pop3 = {
        "limit-long-top-line": session(header_only(m["long-line"]), m["long-line"]),
        "limit-top-header-lines": session(header_only(m["header-lines"]), b"Subject: s\r\n\r\n"),
        "limit-retr-parts": session(b"Subject: s\r\n\r\n", m["parts"]),
        "limit-retr-decoded-bytes": session(b"Subject: s\r\n\r\n", m["decoded-bytes"]),
        "limit-retr-text-lines": session(b"Subject: s\r\n\r\n", m["text-lines"]),
    }
    for name, data in pop3.items():
        write(out, "pop3reply", name, data)

    record = b"word".ljust(256, b"\0") + struct.pack("<i", 1) + b"desc".ljust(256, b"\0")
    lists = {
        # 4 MiB of zeros in 4 KB: past the fuzz build's 1 MiB allowance and 32 times its size.
        "limit-inflation.dat": b"\1" + struct.pack("<i", 0x7FFFFFFF)
        + zlib.compress(b"\0" * (4 << 20), 9),
        # A count lower than the records that follow: damaged, not a shorter list.
        "limit-count-lowered.dat": b"\1" + struct.pack("<i", 1) + zlib.compress(record * 3, 9),
    }
    for name, data in lists.items():
        write(out, "listfile", name, data)


if __name__ == "__main__":
    main()
