#!/usr/bin/env python3
"""A TCP relay that puts a fixed one-way delay between a client and a server.

  latency_relay.py LISTEN_PORT TARGET_PORT [--delay-ms 10] [--ready FILE]

Every byte, and every end of a stream, reaches the other side DELAY after it
left, in both directions. Connection set-up costs what it costs on a real
network: the server side is connected one delay after the client's connect,
and the client's first bytes cannot reach the server before a whole round trip
(the handshake) plus one delay has passed since the connect.

One thread with an epoll loop and a timer heap: the relay only copies bytes, so
it stays far below the rates it carries.
"""
import argparse
import errno
import heapq
import itertools
import os
import select
import socket
import sys
import time


class Side:
    """One socket of a relayed connection and what waits to be written to it."""

    def __init__(self, sock):
        self.sock = sock
        self.out = bytearray()
        self.eof_due = False   # the peer has ended its stream: shut ours down once out is empty
        self.shut = False
        self.read_eof = False
        self.closed = False


class Pair:
    def __init__(self, client, accepted_at):
        self.client = Side(client)
        self.server = None
        self.accepted_at = accepted_at
        self.pending_to_server = []  # chunks that wait for the server side to be connected


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('listen_port', type=int)
    ap.add_argument('target_port', type=int)
    ap.add_argument('--delay-ms', type=float, default=10.0)
    ap.add_argument('--ready')
    a = ap.parse_args()
    delay = a.delay_ms / 1000.0

    lsock = socket.socket()
    lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    lsock.bind(('127.0.0.1', a.listen_port))
    lsock.listen(1024)
    lsock.setblocking(False)
    ep = select.epoll()
    ep.register(lsock.fileno(), select.EPOLLIN)
    by_fd = {}       # fd -> (pair, side, other_side_name)
    timers = []      # (due, seq, action, args)
    seq = itertools.count()
    if a.ready:
        open(a.ready, 'w').close()

    def at(due, action, *args):
        heapq.heappush(timers, (due, next(seq), action, args))

    def close_pair(pair):
        for side in (pair.client, pair.server):
            if side is not None and not side.closed:
                side.closed = True
                by_fd.pop(side.sock.fileno(), None)
                try:
                    ep.unregister(side.sock.fileno())
                except (OSError, ValueError):
                    pass
                side.sock.close()

    def update_events(side):
        if side.closed:
            return
        ev = 0 if side.read_eof else select.EPOLLIN | select.EPOLLRDHUP
        if side.out:
            ev |= select.EPOLLOUT
        try:
            ep.modify(side.sock.fileno(), ev)
        except OSError:
            pass

    def flush(pair, side):
        if side.closed:
            return
        while side.out:
            try:
                n = side.sock.send(side.out)
            except BlockingIOError:
                break
            except OSError:
                close_pair(pair)
                return
            del side.out[:n]
        if not side.out and side.eof_due and not side.shut:
            side.shut = True
            try:
                side.sock.shutdown(socket.SHUT_WR)
            except OSError:
                pass
        if pair.client.shut and pair.server is not None and pair.server.shut:
            close_pair(pair)
            return
        update_events(side)

    def deliver(pair, to_name, data):
        side = pair.client if to_name == 'client' else pair.server
        if side is None:
            pair.pending_to_server.append(data)
            return
        if side.closed:
            return
        if data is None:
            side.eof_due = True
        else:
            side.out += data
        flush(pair, side)

    def connect_server(pair):
        if pair.client.closed:
            return
        s = socket.socket()
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            s.connect(('127.0.0.1', a.target_port))
        except OSError:
            s.close()
            close_pair(pair)
            return
        s.setblocking(False)
        pair.server = Side(s)
        by_fd[s.fileno()] = (pair, pair.server, 'client')
        ep.register(s.fileno(), select.EPOLLIN | select.EPOLLRDHUP)
        for data in pair.pending_to_server:
            deliver(pair, 'server', data)
        pair.pending_to_server = []

    def readable(pair, side, to_name):
        while True:
            try:
                data = side.sock.recv(262144)
            except BlockingIOError:
                return
            except OSError:
                data = b''
            now = time.monotonic()
            due = now + delay
            if to_name == 'server':
                # The request cannot arrive before the handshake's round trip
                # plus its own way.
                due = max(due, pair.accepted_at + 3 * delay)
            if not data:
                at(due, deliver, pair, to_name, None)
                side.read_eof = True
                update_events(side)
                return
            at(due, deliver, pair, to_name, bytes(data))

    while True:
        timeout = -1
        if timers:
            timeout = max(0.0, timers[0][0] - time.monotonic())
        try:
            events = ep.poll(timeout)
        except InterruptedError:
            continue
        for fd, ev in events:
            if fd == lsock.fileno():
                while True:
                    try:
                        c, _ = lsock.accept()
                    except BlockingIOError:
                        break
                    except OSError as e:
                        if e.errno in (errno.EMFILE, errno.ENFILE):
                            break
                        raise
                    c.setblocking(False)
                    c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                    pair = Pair(c, time.monotonic())
                    by_fd[c.fileno()] = (pair, pair.client, 'server')
                    ep.register(c.fileno(), select.EPOLLIN | select.EPOLLRDHUP)
                    at(pair.accepted_at + delay, connect_server, pair)
                continue
            entry = by_fd.get(fd)
            if entry is None:
                continue
            pair, side, to_name = entry
            if ev & select.EPOLLOUT:
                flush(pair, side)
            if side.closed:
                continue
            if ev & (select.EPOLLIN | select.EPOLLRDHUP | select.EPOLLHUP | select.EPOLLERR):
                readable(pair, side, to_name)
        now = time.monotonic()
        while timers and timers[0][0] <= now:
            _, _, action, args = heapq.heappop(timers)
            action(*args)


if __name__ == '__main__':
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
