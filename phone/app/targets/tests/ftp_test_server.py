#!/usr/bin/python3
"""A small FTP server for the uploader's tests, on one loopback port.

Writes one line per event to --log: "CONNECT", "CMD <command line>" (PASS shown as
"PASS ****"), and "DATA <name> <bytes> <chunk sizes>" when an upload ends. Options:
  --no-password     USER logs in at once (230) without asking for a password
  --die-on-data N   end the whole server (as if killed) when data of the Nth upload arrive
Prints "listening" once the port is open.
"""
import argparse
import os
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

parser = argparse.ArgumentParser()
parser.add_argument("--port", type=int, required=True)
parser.add_argument("--root", required=True)
parser.add_argument("--log", required=True)
parser.add_argument("--no-password", action="store_true")
parser.add_argument("--die-on-data", type=int, default=0)
args = parser.parse_args()

log_file = open(args.log, "a", buffering=1)
uploads = [0]


def note(line):
    log_file.write(line + "\n")


class RecordingDTP(DTPHandler):
    def __init__(self, sock, cmd_channel):
        super().__init__(sock, cmd_channel)
        self.chunks = []

    def recv(self, size):
        data = super().recv(size)
        if data:
            self.chunks.append(len(data))
            if args.die_on_data and uploads[0] == args.die_on_data:
                note("DYING")
                os.kill(os.getpid(), signal.SIGKILL)
        return data

    def close(self):
        if self.receive and self.file_obj is not None:
            name = os.path.basename(self.file_obj.name)
            note("DATA %s %d %s" % (name, sum(self.chunks), ",".join(map(str, self.chunks))))
        super().close()


class RecordingHandler(FTPHandler):
    dtp_handler = RecordingDTP

    def on_connect(self):
        note("CONNECT")

    def pre_process_command(self, line, cmd, arg):
        note("CMD " + ("PASS ****" if cmd == "PASS" else line))
        if cmd == "STOR":
            uploads[0] += 1
        return super().pre_process_command(line, cmd, arg)

    def ftp_USER(self, line):
        if not args.no_password:
            return super().ftp_USER(line)
        self.username = line
        self.handle_auth_success(self.authorizer.get_home_dir(line), "", self.authorizer.get_msg_login(line))


authorizer = DummyAuthorizer()
authorizer.add_anonymous(args.root, perm="elradfmwMT")
authorizer.add_user("camera", "secret word", args.root, perm="elradfmwMT")
RecordingHandler.authorizer = authorizer
server = FTPServer(("127.0.0.1", args.port), RecordingHandler)
print("listening", flush=True)
server.serve_forever()
