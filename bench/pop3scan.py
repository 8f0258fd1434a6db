#!/usr/bin/env python3
"""A minimal POP3 client doing the exchange of a header scan, as the yardstick for
bench_pop3scan: USER, PASS, STAT, LIST, then TOP n L and LIST n for every message, RSET, QUIT.
Sequential (one command at a time, Python's poplib) by default; with --window N it keeps up to
N commands of the scan in flight, topping the window up after every reply (--window all: every
command of the scan sent at once). --lines L: the body lines each TOP asks for (0 by default).

usage: pop3scan.py [--window N|all] [--lines L] HOST PORT USER PASSWORD
prints: the message count and the seconds the exchange took
"""
import poplib
import socket
import sys
import time


def sequential(host, port, user, password, lines):
    pop = poplib.POP3(host, int(port))
    pop.user(user)
    pop.pass_(password)
    count = pop.stat()[0]
    pop.list()
    for n in range(1, count + 1):
        pop.top(n, lines)
        pop.list(n)
    pop.rset()
    pop.quit()
    return count


def pipelined(host, port, user, password, window, lines):
    sock = socket.create_connection((host, int(port)))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    f = sock.makefile("rb")

    def command(line):
        sock.sendall(line.encode() + b"\r\n")
        reply = f.readline()
        if not reply.startswith(b"+OK"):
            raise RuntimeError(reply)
        return reply

    def data():
        while f.readline() != b".\r\n":
            pass

    f.readline()
    command("USER " + user)
    command("PASS " + password)
    count = int(command("STAT").split()[1])
    command("LIST")
    data()
    commands = []
    for n in range(1, count + 1):
        commands += ["TOP %d %d" % (n, lines), "LIST %d" % n]
    if window == 0:
        window = len(commands)
    sent = done = 0
    while done < len(commands):
        batch = []
        while sent < len(commands) and sent - done < window:
            batch.append(commands[sent])
            sent += 1
        if batch:
            sock.sendall(("\r\n".join(batch) + "\r\n").encode())
        reply = f.readline()
        if commands[done].startswith("TOP") and reply.startswith(b"+OK"):
            data()
        done += 1
    command("RSET")
    sock.sendall(b"QUIT\r\n")
    f.readline()
    sock.close()
    return count


def main():
    args = sys.argv[1:]
    window = 1
    lines = 0
    while args[:1] in (["--window"], ["--lines"]):
        if args[0] == "--window":
            window = 0 if args[1] == "all" else int(args[1])
        else:
            lines = int(args[1])
        args = args[2:]
    host, port, user, password = args[:4]
    start = time.perf_counter()
    if window != 1:
        count = pipelined(host, port, user, password, window, lines)
    else:
        count = sequential(host, port, user, password, lines)
    print(count, time.perf_counter() - start)


if __name__ == "__main__":
    main()
