#!/usr/bin/env python3
"""A minimal sequential POP3 client doing the exchange of a header scan, as the yardstick for
bench_pop3scan: USER, PASS, STAT, LIST, then TOP n 0 and LIST n for every message, RSET, QUIT.

usage: pop3scan.py HOST PORT USER PASSWORD
prints: the message count and the seconds the exchange took
"""
import poplib
import sys
import time


def main():
    host, port, user, password = sys.argv[1:5]
    start = time.perf_counter()
    pop = poplib.POP3(host, int(port))
    pop.user(user)
    pop.pass_(password)
    count = pop.stat()[0]
    pop.list()
    for n in range(1, count + 1):
        pop.top(n, 0)
        pop.list(n)
    pop.rset()
    pop.quit()
    print(count, time.perf_counter() - start)


if __name__ == "__main__":
    main()
