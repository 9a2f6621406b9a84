# SPDX-License-Identifier: MIT
"""kestrilavon against its peer xinput_calibrator, on Xvfb at 1024x768 with no window manager.

(a) start-up: from exec to the first marker's red pixels on screen
(b) touch latency: from the release record written to the device to the next marker on screen
(c) resident memory at the first marker
(d) CPU time used while waiting 5 s for a touch
Each is the median of RUNS runs (default 10); the peer is measured for (a) and (c).
"""
import os
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
os.environ.setdefault("KESTRILAVON", os.path.join(TOP, "build", "kestrilavon"))
os.environ.setdefault("TOUCHSIM", os.path.join(TOP, "build", "touchsim"))
os.environ.setdefault("XPROBE", os.path.join(TOP, "build", "xprobe"))

from harness import KESTRILAVON, XPROBE, TouchScreen, XServer, wait_for  # noqa: E402

W, H = 1024, 768
RUNS = int(os.environ.get("RUNS", "10"))
PEER = "xinput_calibrator"


class RedWatch:
    """xprobe polling one pixel until it turns red."""

    def __init__(self, server, x, y):
        self.process = subprocess.Popen([XPROBE, "wait-red", str(x), str(y)], env=server.env,
                                        stdout=subprocess.PIPE, text=True)
        assert self.process.stdout.readline().strip() == "polling"

    def seen_at(self):
        line = self.process.stdout.readline().strip()
        self.process.wait()
        self.process.stdout.close()
        if not line:
            raise RuntimeError("the pixel never turned red")
        return float(line)


def resident_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    raise RuntimeError("no VmRSS")


def cpu_seconds(pid):
    """CPU time of all the process's threads, in seconds, to the nanosecond."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/schedstat") as schedstat:
            total += int(schedstat.read().split()[0])
    return total / 1e9


def start_and_watch(server, command, x, y):
    """Starts the command; returns (process, seconds to red at (x, y), resident MB then)."""
    watch = RedWatch(server, x, y)
    started = time.monotonic()
    process = subprocess.Popen(command, env=server.env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    seen = watch.seen_at()
    return process, seen - started, resident_mb(process.pid)


def end(process):
    if process.poll() is None:
        process.send_signal(signal.SIGKILL)
    process.wait()


def has_open(pid, path):
    folder = f"/proc/{pid}/fd"
    return any(os.readlink(os.path.join(folder, fd)) == path for fd in os.listdir(folder))


def measure_kestrilavon(server, touch):
    # A point on the horizontal arm of each cross, clear of any text.
    first = (W // 4 - 1 + 60, H // 4 - 1)
    second = (3 * W // 4 - 1 + 60, 3 * H // 4 - 1)
    release = struct.pack("@llHHi", 0, 0, 1, 0x110, 0)
    process, startup, memory = start_and_watch(server, [KESTRILAVON, touch.path], *first)
    try:
        server.key("Return")
        wait_for("the device to be read", lambda: has_open(process.pid, touch.path))
        before = cpu_seconds(process.pid)
        time.sleep(5)
        idle_cpu = cpu_seconds(process.pid) - before
        for command in ("press", "x 300", "y 250", "syn"):
            touch.send(command)
        watch = RedWatch(server, *second)
        device = os.open(touch.path, os.O_WRONLY)
        written = time.monotonic()
        os.write(device, release)
        latency = watch.seen_at() - written
        os.close(device)
    finally:
        end(process)
    return startup, latency, memory, idle_cpu


def measure_peer(server):
    # The peer's first cross sits at (W/8, H/8); this is a point on its arm.
    process, startup, memory = start_and_watch(server, [PEER, "--fake"], W // 8 + 12, H // 8)
    end(process)
    return startup, memory


def main():
    server = XServer(W, H)
    folder = tempfile.TemporaryDirectory()
    touch = TouchScreen(folder.name)
    try:
        ours = [measure_kestrilavon(server, touch) for _ in range(RUNS)]
        peer = [measure_peer(server) for _ in range(RUNS)]
    finally:
        touch.stop()
        server.stop()
        folder.cleanup()

    def median(rows, i):
        return statistics.median(row[i] for row in rows)

    startup, latency, memory, idle = (median(ours, i) for i in range(4))
    peer_startup, peer_memory = median(peer, 0), median(peer, 1)
    cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"],
                         capture_output=True, text=True).stdout.strip()
    print(f"Xvfb {W}x{H}, no window manager; median of {RUNS} runs; {os.cpu_count()} cores, {cpu}")
    print()
    print("| measure | kestrilavon | xinput_calibrator --fake | ratio | target |")
    print("|---|---|---|---|---|")
    print(f"| (a) start-up to first marker | {startup * 1000:.1f} ms | {peer_startup * 1000:.1f} ms "
          f"| {startup / peer_startup:.2f} | at most 0.5 |")
    print(f"| (b) release record to next marker | {latency * 1000:.2f} ms | | | under 10 ms |")
    print(f"| (c) resident memory at first marker | {memory:.1f} MB | {peer_memory:.1f} MB "
          f"| {memory / peer_memory:.2f} | at most 32 MB |")
    print(f"| (d) CPU while waiting 5 s for a touch | {idle * 1000:.3f} ms | | | zero |")


if __name__ == "__main__":
    main()
