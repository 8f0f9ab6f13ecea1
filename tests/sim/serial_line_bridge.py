#!/usr/bin/env python3
"""Puts a serial line between a Windows program under Wine and a simulator.

Makes a pseudo-terminal in raw mode, points the given Wine COM device links
(for example $WINEPREFIX/dosdevices/com5) at its slave, and relays the bytes of
its master to and from one TCP client on 127.0.0.1, where the simulator runs.
The TCP port is written to the --ready file once everything is in place."""
import argparse
import os
import pty
import select
import signal
import socket
import sys
import tty


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--link", action="append", required=True, help="COM device link to make")
    parser.add_argument("--ready", required=True, help="file that receives the TCP port")
    args = parser.parse_args()

    # Ended by SIGTERM: take the links away on the way out.
    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(0))

    master, slave = pty.openpty()
    tty.setraw(slave)
    # The slave stays open here too, so that the master never sees the line
    # hang up between two opens of the COM port.
    slave_name = os.ttyname(slave)
    for link in args.link:
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(slave_name, link)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    with open(args.ready + ".tmp", "w") as ready:
        ready.write(str(listener.getsockname()[1]))
    os.rename(args.ready + ".tmp", args.ready)

    try:
        while True:
            client, _ = listener.accept()
            relay(master, client)
            client.close()
    finally:
        for link in args.link:
            if os.path.islink(link) and os.readlink(link) == slave_name:
                os.unlink(link)


def relay(master, client):
    while True:
        readable, _, _ = select.select([master, client], [], [])
        if master in readable:
            data = os.read(master, 4096)
            if data:
                client.sendall(data)
        if client in readable:
            data = client.recv(4096)
            if not data:
                return
            os.write(master, data)


if __name__ == "__main__":
    main()
