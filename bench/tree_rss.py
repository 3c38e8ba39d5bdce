#!/usr/bin/env python3
"""The peak resident memory of a process tree: the sum of VmRSS over a process and all its
descendants, sampled every 2 ms until the process ends.

  tree_rss.py --pid PID           watches a running process; prints "PEAK-KIB"
  tree_rss.py --run COMMAND...    starts the command and watches it; prints "PEAK-KIB ELAPSED-MS STATUS"

Shared pages count once in each process that maps them, as RSS does.
"""
import os
import subprocess
import sys
import time


def tree_rss_kib(root):
    children = {}
    rss = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/status") as status:
                fields = dict(line.split(":", 1) for line in status if ":" in line)
        except OSError:
            continue
        pid = int(name)
        children.setdefault(int(fields["PPid"]), []).append(pid)
        rss[pid] = int(fields.get("VmRSS", "0 kB").split()[0])
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        total += rss.get(pid, 0)
        todo.extend(children.get(pid, []))
    return total


def alive(pid, process):
    if process is not None:
        return process.poll() is None
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def main():
    process = None
    if sys.argv[1] == "--pid":
        pid = int(sys.argv[2])
    else:
        started = time.monotonic()
        process = subprocess.Popen(sys.argv[2:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pid = process.pid
    peak = 0
    while alive(pid, process):
        peak = max(peak, tree_rss_kib(pid))
        time.sleep(0.002)
    if process is None:
        print(peak)
    else:
        print(peak, round((time.monotonic() - started) * 1000), process.returncode)


main()
