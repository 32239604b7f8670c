#!/usr/bin/env python3
"""The holder scan against a dead mount: a process in a mount namespace of
its own holds an open file whose path text is the camera's device, on a FUSE
file system (ours, spoken raw over /dev/fuse) that has stopped answering, as
a dead network or FUSE mount does. A stat of that file from outside waits for
ever; the port doctor (and so every open of the port) must not look at it and
must end within its deadline, naming the port usable.

Usage: dead_mount_holder.py QUORVEL_PORTS. Needs root, /dev/fuse and
unshare(1); skipped (77) without them."""
import ctypes
import os
import shutil
import signal
import struct
import subprocess
import sys
import time

SKIP = 77


def hold(target):
    """In the new mount namespace: mount a FUSE file system over the folder of
    `target`, open `target` there, and let the file system die."""
    fuse = os.open("/dev/fuse", os.O_RDWR)
    libc = ctypes.CDLL(None, use_errno=True)
    options = f"fd={fuse},rootmode=40000,user_id=0,group_id=0,allow_other".encode()
    if libc.mount(b"deadfs", os.path.dirname(target).encode(), b"fuse", 0, options) != 0:
        print("mount failed:", os.strerror(ctypes.get_errno()), flush=True)
        sys.exit(SKIP)

    def attr(ino, mode):
        return struct.pack("<QQQQQQIIIIIIIIII", ino, 0, 0, 0, 0, 0, 0, 0, 0, mode, 1, 0, 0, 0, 4096, 0)

    def reply(unique, body=b"", error=0):
        os.write(fuse, struct.pack("<IiQ", 16 + len(body), error, unique) + body)

    server = os.fork()
    if server == 0:
        opened = False
        while True:
            data = os.read(fuse, 1 << 20)
            _, opcode, unique, nodeid = struct.unpack_from("<IIQQ", data)
            if opened:
                continue  # dead: nothing is answered any more
            if opcode == 26:  # INIT
                reply(unique, struct.pack("<IIIIHHIIHHI7I", 7, 31, 0, 0, 0, 0, 4096, 0, 0, 0, 0, *([0] * 7)))
            elif opcode == 1:  # LOOKUP: every name is a plain file
                reply(unique, struct.pack("<QQQQII", 2, 0, 3600, 0, 0, 0) + attr(2, 0o100644))
            elif opcode == 3:  # GETATTR
                reply(unique, struct.pack("<QII", 0, 0, 0) + attr(nodeid, 0o040755 if nodeid == 1 else 0o100644))
            elif opcode == 14:  # OPEN, the last answer
                reply(unique, struct.pack("<QII", 0, 0, 0))
                opened = True
            else:
                reply(unique, error=-38)  # ENOSYS
    os.close(fuse)  # the server's alone: once it is gone, the mount is torn down
    held = os.open(target, os.O_RDONLY)
    print(os.getpid(), server, held, flush=True)
    time.sleep(600)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--hold":
        hold(sys.argv[2])
        return 0
    ports = sys.argv[1]
    if os.geteuid() != 0 or not os.path.exists("/dev/fuse") or not shutil.which("unshare"):
        print("skipped: needs root, /dev/fuse and unshare")
        return SKIP
    master, slave = os.openpty()
    device = os.ttyname(slave)
    os.close(slave)
    holder = subprocess.Popen(["unshare", "-m", "--propagation", "private", sys.executable, __file__, "--hold",
                               device], stdout=subprocess.PIPE, text=True)
    line = holder.stdout.readline().split()
    if len(line) != 3:
        holder.wait(timeout=10)
        print("skipped: no FUSE mount in a namespace of our own here")
        return SKIP
    pid, server, fd = (int(x) for x in line)
    failures = 0
    try:
        # Seen from here, the held file bears the device's very path text.
        text = os.readlink(f"/proc/{pid}/fd/{fd}")
        if text != device:
            print(f"skipped: the held file reads {text!r} from outside, not {device!r}")
            return SKIP
        started = time.monotonic()
        doctor = subprocess.Popen([ports], env=dict(os.environ, QUORVEL_COM_PORTS=f"1={device}"),
                                  stdout=subprocess.PIPE, text=True)
        try:
            out, _ = doctor.communicate(timeout=20)
            code = doctor.returncode
        except subprocess.TimeoutExpired:
            # Held in the kernel, it cannot even be killed until the mount
            # is torn down below.
            code, out = None, ""
        took = time.monotonic() - started
        print(f"quorvel-ports with a holder on a dead mount: exit {code} in {took:.2f} s")
        print(out, end="")
        if code != 0 or took > 5 or "usable" not in out:
            print("FAIL: the holder scan waited on the dead mount")
            failures += 1
    finally:
        os.kill(server, signal.SIGKILL)  # its /dev/fuse closed, the mount's waiters are let go
        time.sleep(0.2)
        if "doctor" in locals() and doctor.poll() is None:
            doctor.kill()
            doctor.wait(timeout=30)
        holder.kill()
        holder.wait(timeout=30)
        os.close(master)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
