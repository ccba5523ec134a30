#!/usr/bin/env python3
"""Carries out the monitor commands a test VM asks for.

    qmp.py SOCKET CONSOLE_LOG QEMU_PID

Follows the VM's console log; each line "@@QMP {json}" is sent as it stands to
QEMU's QMP socket (a device unplugged or plugged in, as a user would pull and
replug a USB drive), and the command with QEMU's answer is printed. Ends with
"@@FINISHED" in the log or when QEMU ends.
"""
import json
import os
import socket
import sys
import time


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


def connect(path, pid):
    while alive(pid):
        try:
            s = socket.socket(socket.AF_UNIX)
            s.connect(path)
            return s
        except OSError:
            time.sleep(0.1)
    sys.exit(0)


def answer(stream):
    """The next reply that is not an event; events are printed."""
    while True:
        line = stream.readline()
        if not line:
            return {"error": "QEMU closed the monitor"}
        msg = json.loads(line)
        if "event" not in msg:
            return msg
        print("event", msg["event"], json.dumps(msg.get("data", {})), flush=True)


def main():
    path, log_path, pid = sys.argv[1], sys.argv[2], int(sys.argv[3])
    stream = connect(path, pid).makefile("rw")
    stream.readline()  # the greeting
    stream.write(json.dumps({"execute": "qmp_capabilities"}) + "\n")
    stream.flush()
    answer(stream)
    pos, pending = 0, ""
    while alive(pid):
        with open(log_path, "rb") as log:
            log.seek(pos)
            data = log.read()
        pos += len(data)
        pending += data.decode("utf-8", "replace").replace("\r", "")
        *lines, pending = pending.split("\n")
        for line in lines:
            if line.startswith("@@QMP "):
                command = line[len("@@QMP "):]
                stream.write(command + "\n")
                stream.flush()
                print(command, "->", json.dumps(answer(stream)), flush=True)
            elif line.startswith("@@FINISHED"):
                return
        time.sleep(0.1)


if __name__ == "__main__":
    main()
