#!/usr/bin/env python3
"""A loopback delay line for bench_pop3scan: forwards TCP connections to a server and delays
every chunk by DELAY_MS milliseconds in each direction, so a round trip takes twice as long.

usage: delayproxy.py TARGET_HOST TARGET_PORT DELAY_MS
prints: the port it listens on (127.0.0.1), then serves until killed or stdin closes
"""
import asyncio
import sys


async def pipe(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                break
            writer.write(data)
            await writer.drain()
        writer.close()

    task = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                break
    except ConnectionError:
        queue.put_nowait((loop.time(), b""))
    await task


async def main():
    host, port, delay = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) / 1000.0

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(host, port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pipe(client_reader, server_writer, delay),
                             pipe(server_reader, client_writer, delay),
                             return_exceptions=True)

    server = await asyncio.start_server(handle, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    loop = asyncio.get_running_loop()
    # Ends when whoever started it closes our stdin.
    await loop.run_in_executor(None, sys.stdin.read)
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
