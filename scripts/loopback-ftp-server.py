#!/usr/bin/python3
"""A read-only FTP server on 127.0.0.1 for the demo and the tool's tests.

    loopback-ftp-server.py ROOT PORT_FILE USER PASSWORD_FILE [LOG_FILE [BYTES_PER_S]]

Serves ROOT to one account; the password is read from PASSWORD_FILE so that it
never shows in a process listing. Binds a free port and writes its number to
PORT_FILE once it listens (written whole: renamed into place). Runs until it
gets SIGTERM. BYTES_PER_S slows every download down to that rate (a slow
server for time limits). Needs pyftpdlib (Debian: python3-pyftpdlib).
"""
import logging
import os
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    if len(sys.argv) not in (5, 6, 7):
        sys.stderr.write(__doc__)
        return 2
    root, port_file, user, password_file = sys.argv[1:5]
    log_file = sys.argv[5] if len(sys.argv) >= 6 and sys.argv[5] else None
    rate = int(sys.argv[6]) if len(sys.argv) == 7 else 0
    with open(password_file, encoding="utf-8") as f:
        password = f.readline().rstrip("\r\n")
    if log_file:
        # Commands and replies, but pyftpdlib logs PASS as "******".
        logging.basicConfig(filename=log_file, level=logging.DEBUG)
    else:
        logging.basicConfig(level=logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elr")  # list and read only
    handler = FTPHandler
    handler.authorizer = authorizer
    if rate > 0:
        dtp = ThrottledDTPHandler
        dtp.write_limit = rate
        handler.dtp_handler = dtp
    server = FTPServer(("127.0.0.1", 0), handler)

    # serve_forever closes every connection when SystemExit reaches it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    with open(port_file + ".tmp", "w", encoding="ascii") as f:
        f.write("%d\n" % server.socket.getsockname()[1])
    os.rename(port_file + ".tmp", port_file)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
