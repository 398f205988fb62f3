"""A TCP relay on 127.0.0.1 that models a network with a round-trip time:
every byte takes half of it to cross, each way, and a new connection takes
one whole round trip (the TCP handshake) before its first byte can leave the
client. It forwards bytes as they are, TLS included, so both ends talk as
they would across a WAN.

Usage: python bench/delay_relay.py --upstream HOST:PORT [--rtt SECONDS]

prints its own address, 127.0.0.1:PORT, on the first line and relays until
SIGTERM. `DelayRelay` runs it as a child process from Python, so that its
event loop never waits on the measured client's GIL.
"""

import argparse
import asyncio
import os
import signal
import socket
import subprocess
import sys

LOOPBACK = "127.0.0.1"
CHUNK = 65536


async def carry(reader, writer, delay, not_before):
    """Copies `reader` to `writer`, each chunk `delay` seconds after it
    arrived (but not before `not_before`), in order; the end of the stream
    (the peer's FIN) travels the same way."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(CHUNK)
            queue.put_nowait((max(loop.time(), not_before) + delay, data))
            if not data:
                return

    async def deliver():
        while True:
            due, data = await queue.get()
            await asyncio.sleep(max(0.0, due - loop.time()))
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    try:
        await asyncio.gather(receive(), deliver())
    except (ConnectionError, OSError):
        writer.transport.abort()


def no_delay(writer):
    writer.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


async def serve(upstream_host, upstream_port, rtt):
    loop = asyncio.get_running_loop()

    async def relay(client_reader, client_writer):
        accepted = loop.time()
        try:
            server_reader, server_writer = await asyncio.open_connection(upstream_host, upstream_port)
        except OSError:
            client_writer.transport.abort()
            return
        no_delay(client_writer)
        no_delay(server_writer)
        # The client's first byte leaves once its handshake is done, one round
        # trip after it connected; the relay's own accept was instant.
        await asyncio.gather(carry(client_reader, server_writer, rtt / 2, accepted + rtt),
                             carry(server_reader, client_writer, rtt / 2, accepted))
        for writer in (client_writer, server_writer):
            writer.close()

    server = await asyncio.start_server(relay, LOOPBACK, 0)
    print(f"{LOOPBACK}:{server.sockets[0].getsockname()[1]}", flush=True)
    # Ends at once, connections and all: there is nothing to save.
    loop.add_signal_handler(signal.SIGTERM, os._exit, 0)
    await server.serve_forever()


class DelayRelay:
    """The relay in a child process, in front of `upstream` (HOST:PORT), as a
    context manager; `address` is what a client connects to instead."""

    def __init__(self, upstream, rtt):
        self.upstream, self.rtt = upstream, rtt

    def __enter__(self):
        self._process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "--upstream", self.upstream, "--rtt", str(self.rtt)],
            stdout=subprocess.PIPE, text=True)
        self.address = self._process.stdout.readline().strip()
        if not self.address:
            self.__exit__()
            raise RuntimeError("the delaying relay exited without serving")
        return self

    def __exit__(self, *exc_info):
        self._process.terminate()
        self._process.wait(timeout=10)
        self._process.stdout.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--upstream", required=True, help="HOST:PORT to relay to")
    parser.add_argument("--rtt", type=float, default=0.040, help="round-trip time in seconds (0.040)")
    options = parser.parse_args()
    host, port = options.upstream.rsplit(":", 1)
    asyncio.run(serve(host, int(port), options.rtt))


if __name__ == "__main__":
    main()
