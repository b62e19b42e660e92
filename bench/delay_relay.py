#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that makes loopback look like a distant server: every chunk, in either
direction, leaves DELAY ms after it arrived, so a round trip costs twice DELAY. Chunks keep their order
and are never held back behind one another, so the bandwidth stays what loopback gives. A new
connection also pays the round trip of TCP's handshake: its first bytes reach the server no sooner
than three one-way delays after it was accepted. Connections are relayed side by side. Prints the port
it listens on, then runs until SIGINT or SIGTERM. With --rate, each connection brings the client at
most RATE bytes per second, as a server or line that caps every connection does.

Usage: bench/delay_relay.py --listen PORT --to HOST:PORT --delay-ms MS [--rate BYTES_PER_S]
       (--listen 0: an ephemeral port)
"""

import argparse
import asyncio
import collections
import signal

CLOSE = None  # in a queue: the sending side closed its connection


class Direction:
    """One direction of a relayed connection: each chunk is delivered at its arrival time + delay."""

    def __init__(self, loop, delay, not_before=0.0, rate=0.0):
        self.loop = loop
        self.delay = delay
        self.not_before = not_before
        self.rate = rate
        self.free_at = 0.0  # with a rate: when the line is done with what it was given
        self.target = None
        self.queue = collections.deque()
        self.timer = None

    def push(self, data):
        leaves = max(self.loop.time(), self.not_before)
        if self.rate:
            leaves = max(leaves, self.free_at)  # the end of the connection follows its last byte
            if data is not CLOSE:
                self.free_at = leaves + len(data) / self.rate
                leaves = self.free_at
        self.queue.append((leaves + self.delay, data))
        self.schedule()

    def attach(self, target):
        self.target = target
        self.schedule()

    def schedule(self):
        if self.timer is None and self.target is not None and self.queue:
            self.timer = self.loop.call_at(self.queue[0][0], self.deliver)

    def deliver(self):
        self.timer = None
        now = self.loop.time()
        while self.queue and self.queue[0][0] <= now:
            _, data = self.queue.popleft()
            if self.target.is_closing():
                continue
            if data is CLOSE:
                self.target.close()  # after what is buffered has gone out
            else:
                self.target.write(data)
        self.schedule()


class Side(asyncio.Protocol):
    """One of the two connections of a relayed pair: what it reads goes out through `outgoing`."""

    def __init__(self, outgoing, incoming):
        self.outgoing = outgoing
        self.incoming = incoming
        self.transport = None
        self.peer = None  # the other side's transport, paused while this one's buffer is full

    def connection_made(self, transport):
        self.transport = transport
        self.incoming.attach(transport)

    def data_received(self, data):
        self.outgoing.push(data)

    def eof_received(self):
        self.outgoing.push(CLOSE)
        return False

    def connection_lost(self, exc):
        self.outgoing.push(CLOSE)

    def pause_writing(self):
        if self.peer is not None:
            self.peer.pause_reading()

    def resume_writing(self):
        if self.peer is not None and not self.peer.is_closing():
            self.peer.resume_reading()


class ClientSide(Side):
    def __init__(self, loop, delay, upstream, rate):
        accepted = loop.time()
        super().__init__(Direction(loop, delay, not_before=accepted + 2 * delay), Direction(loop, delay, rate=rate))
        self.loop = loop
        self.upstream = upstream

    def connection_made(self, transport):
        super().connection_made(transport)
        self.loop.create_task(self.connect())

    async def connect(self):
        host, port = self.upstream
        server = Side(self.incoming, self.outgoing)
        try:
            transport, _ = await self.loop.create_connection(lambda: server, host, port)
        except OSError:
            self.transport.close()
            return
        server.peer, self.peer = self.transport, transport


async def relay(listen, upstream, delay, rate):
    loop = asyncio.get_running_loop()
    listener = await loop.create_server(lambda: ClientSide(loop, delay, upstream, rate), "127.0.0.1", listen)
    print(listener.sockets[0].getsockname()[1], flush=True)
    stopped = loop.create_future()
    for signum in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(signum, lambda: stopped.done() or stopped.set_result(None))
    await stopped
    listener.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--listen", type=int, default=0, help="port on 127.0.0.1 (0: an ephemeral one)")
    parser.add_argument("--to", required=True, help="HOST:PORT of the server")
    parser.add_argument("--delay-ms", type=float, required=True, help="one-way delay in milliseconds")
    parser.add_argument("--rate", type=float, default=0.0, help="bytes per second to each client (0: no cap)")
    args = parser.parse_args()
    host, _, port = args.to.rpartition(":")
    asyncio.run(relay(args.listen, (host, int(port)), args.delay_ms / 1000, args.rate))


if __name__ == "__main__":
    main()
