#!/usr/bin/env python3
"""fsv archive over a fleet of recorder-sim processes, against a plain loopback copy.

    bench/archive/bench_archive.py BUILD_DIR [--recorders 64] [--cameras 4] [--days 2]
                                   [--events 4] [--file-kb 1024] [--jobs 16]

Every recorder serves the same recordings folder (CAMERAS x DAYS x EVENTS files of FILE_KB).
Measured in one run:
  baseline  the same bytes sent over loopback sockets by JOBS threads, one connection per
            recorder, and written to files (no protocol, no hashing); measured twice: written
            only, and written and flushed to the disk file by file (a catalog row names only a
            flushed file; the archive flushes the files that finish together with one flush of
            the file system, so the disk's write speed, not the number of files, bounds it).
            Each part ends with a sync, so that no part's writes are still on their way to the
            disk while the next one runs. Written only, the bytes are still in memory when the
            time is taken;
  first     fsv archive run --all --jobs JOBS into an empty archive: MB/s, ratio to the
            baseline, peak threads and resident memory of fsv;
  second    the same run again: nothing to fetch; its time is the date queries and the
            catalog look-up. "after the date queries" is the time from the last recorder's
            queries being answered (its "checking" line) to the end of the run, and the
            longest such time of one recorder.

Each part also tells how long the disk under the archive was busy during it and how much was
written to it (from /proc/diskstats, where the disk can be found there): a run whose disk is
busy nearly all the time is bound by the disk, which no copy that ends on it can beat.

The scale of the second run: --events 125 gives 4 x 2 x 125 = 1,000 recordings per recorder.
"""
import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor


def make_recordings(build, root, cameras, days, events, file_kb):
    sample = os.path.join(root, "sample")
    subprocess.run([os.path.join(build, "sim", "recorder-sim"), "--generate", sample], check=True)
    template = None
    for dirpath, _, files in os.walk(os.path.join(sample, "Cam01")):
        for f in sorted(files):
            if f.endswith(".avi"):
                template = os.path.join(dirpath, f)
                break
        if template:
            break
    with open(template, "rb") as f:
        head = f.read()
    # The sample recording, padded with varied bytes to the size asked for.
    pad = bytes((i * 31 + i // 4099) & 0xFF for i in range(max(0, file_kb * 1024 - len(head))))
    body = head + pad
    rec = os.path.join(root, "recordings")
    files = []
    for c in range(1, cameras + 1):
        cam = os.path.join(rec, "Cam%02d" % c)
        os.makedirs(cam)
        with open(os.path.join(cam, "name"), "w") as f:
            f.write("Camera %d\n" % c)
        for d in range(days):
            day = os.path.join(cam, "202611%02d" % (10 + d))
            os.makedirs(day)
            for e in range(events):
                path = os.path.join(day, "%02d%02d00.avi" % (e // 60, e % 60))
                with open(path, "wb") as f:
                    f.write(body)
                files.append(path)
    return rec, files, len(body)


def baseline(files, recorders, jobs, out_dir, flush):
    """Loopback sockets, one per recorder, JOBS at a time; each file written on arrival and,
    with `flush`, flushed to the disk (fsync) before the next one, as the archive keeps its
    files."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(128)
    port = server.getsockname()[1]

    def serve():
        for _ in range(recorders):
            conn, _ = server.accept()
            threading.Thread(target=send_all, args=(conn,), daemon=True).start()

    def send_all(conn):
        with conn:
            for path in files:
                with open(path, "rb") as f:
                    size = os.fstat(f.fileno()).st_size
                    conn.sendall(size.to_bytes(8, "little"))
                    os.sendfile(conn.fileno(), f.fileno(), 0, size)

    def fetch(r):
        got = 0
        buf = bytearray(1 << 16)
        view = memoryview(buf)
        with socket.create_connection(("127.0.0.1", port)) as s:
            for i in range(len(files)):
                head = b""
                while len(head) < 8:
                    head += s.recv(8 - len(head))
                left = int.from_bytes(head, "little")
                with open(os.path.join(out_dir, "%d-%d" % (r, i)), "wb") as out:
                    while left:
                        n = s.recv_into(view[: min(left, len(buf))])
                        if not n:
                            raise RuntimeError("baseline connection closed")
                        out.write(view[:n])
                        left -= n
                        got += n
                    if flush:
                        out.flush()
                        os.fsync(out.fileno())
        return got

    threading.Thread(target=serve, daemon=True).start()
    start = time.monotonic()
    with ThreadPoolExecutor(jobs) as pool:
        total = sum(pool.map(fetch, range(recorders)))
    return total, time.monotonic() - start


def disk_counters(path):
    """Milliseconds the disk holding `path` has spent on I/O so far and the bytes written to it;
    None when unknown."""
    dev = os.stat(path).st_dev
    try:
        with open("/proc/diskstats") as f:
            for line in f:
                fields = line.split()
                if (int(fields[0]), int(fields[1])) == (os.major(dev), os.minor(dev)):
                    return int(fields[12]), int(fields[9]) * 512
    except (OSError, ValueError, IndexError):
        pass
    return None


def busy_text(before, after):
    """The disk's busy time and bytes written between two disk_counters readings."""
    if before is None or after is None:
        return ""
    return ", disk busy %.2f s writing %.1f MB" % ((after[0] - before[0]) / 1000,
                                                   (after[1] - before[1]) / 1e6)


def watch(proc):
    """Peak threads and resident memory of a running process, sampled every 20 ms."""
    peak = {"threads": 0, "rss_kb": 0}

    def loop():
        while proc.poll() is None:
            try:
                with open("/proc/%d/status" % proc.pid) as f:
                    for line in f:
                        if line.startswith("Threads:"):
                            peak["threads"] = max(peak["threads"], int(line.split()[1]))
                        elif line.startswith("VmHWM:"):
                            peak["rss_kb"] = max(peak["rss_kb"], int(line.split()[1]))
            except OSError:
                pass
            time.sleep(0.02)

    t = threading.Thread(target=loop, daemon=True)
    t.start()
    return peak, t


def archive_run(fsv, env, archive, jobs):
    """One run; its exit code, time, peaks, summaries, standard error and, per recorder, when
    its date queries were answered and when it ended (seconds from the start)."""
    cmd = [fsv, "archive", "run", "--archive", archive, "--all", "--from", "2026-11-01",
           "--to", "2026-12-31", "--jobs", str(jobs), "--json"]
    start = time.monotonic()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)
    peak, watcher = watch(proc)
    errs = []
    err_reader = threading.Thread(target=lambda: errs.append(proc.stderr.read()), daemon=True)
    err_reader.start()
    summaries, checked, ended = [], {}, {}
    for line in proc.stdout:  # each line timed as it comes
        now = time.monotonic() - start
        if '"summary"' in line:
            j = json.loads(line)
            summaries.append(j)
            ended[j["recorder"]] = now
        elif '"checking"' in line:
            checked[json.loads(line)["recorder"]] = now
    proc.wait()
    elapsed = time.monotonic() - start
    err_reader.join()
    watcher.join()
    return proc.returncode, elapsed, peak, summaries, "".join(errs), (checked, ended)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--recorders", type=int, default=64)
    ap.add_argument("--cameras", type=int, default=4)
    ap.add_argument("--days", type=int, default=2)
    ap.add_argument("--events", type=int, default=4)
    ap.add_argument("--file-kb", type=int, default=1024)
    ap.add_argument("--jobs", type=int, default=16)
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    fsv = os.path.join(build, "cli", "fsv")
    root = tempfile.mkdtemp(prefix="fsv-bench-archive-")
    sims = []
    try:
        rec, files, size = make_recordings(build, root, a.cameras, a.days, a.events, a.file_kb)
        home = os.path.join(root, "home")
        os.makedirs(home)
        env = dict(os.environ, FARSIGHT_HOME=home, FARSIGHT_CONFIG=home)
        env.pop("FSV_PASSWORD", None)
        for i in range(a.recorders):
            p = subprocess.Popen([os.path.join(build, "sim", "recorder-sim"), "--recordings", rec,
                                  "--user", "admin", "--password", "pw", "--listen",
                                  "127.0.0.1:0"], stdout=subprocess.PIPE, text=True)
            sims.append(p)
            port = p.stdout.readline().strip().rsplit(":", 1)[1]
            subprocess.run([fsv, "book", "add", "r%03d" % i, "127.0.0.1", "--port", port, "-u",
                            "admin", "-p", "pw"], env=env, check=True, stdout=subprocess.DEVNULL)

        print("fleet: %d recorders x %d cameras x %d days x %d events of %d KB, --jobs %d"
              % (a.recorders, a.cameras, a.days, a.events, size // 1024, a.jobs), flush=True)
        base_mbs = {}
        for flush in (False, True):
            base_dir = os.path.join(root, "baseline")
            os.makedirs(base_dir)
            busy0 = disk_counters(root)
            base_bytes, base_s = baseline(files, a.recorders, a.jobs, base_dir, flush)
            busy = busy_text(busy0, disk_counters(root))
            os.sync()  # nothing of it still on its way to the disk while the next part runs
            shutil.rmtree(base_dir)
            base_mbs[flush] = base_bytes / base_s / 1e6
            print("baseline (loopback + write%s): %.1f MB in %.2f s = %.1f MB/s%s"
                  % (" + flush" if flush else "", base_bytes / 1e6, base_s, base_mbs[flush],
                     busy), flush=True)

        # A copy that flushes its files, as the archive must, with no protocol, hashing or
        # catalog: how much of the written-only figure this disk leaves.
        print("            a plain copy that flushes each file reaches %.2f of write"
              % (base_mbs[True] / base_mbs[False]), flush=True)

        archive = os.path.join(root, "archive")
        busy0 = disk_counters(root)
        rc, first_s, peak, summaries, err, _ = archive_run(fsv, env, archive, a.jobs)
        busy = busy_text(busy0, disk_counters(root))
        got = sum(s["bytes"] for s in summaries)
        files_got = sum(s["archived"] for s in summaries)
        rc2, second_s, peak2, summaries2, err2, (checked, ended) = archive_run(fsv, env, archive,
                                                                             a.jobs)
        after_queries = second_s - max(checked.values()) if checked else float("nan")
        one_after = max((ended[r] - checked[r] for r in checked if r in ended), default=0)
        fetched2 = sum(s["archived"] for s in summaries2)
        present2 = sum(s["present"] for s in summaries2)
        mbs = got / first_s / 1e6
        print("first run:  exit %d, %d files, %.1f MB in %.2f s = %.1f MB/s%s, ratio %.2f to "
              "write, %.2f to write + flush" % (rc, files_got, got / 1e6, first_s, mbs, busy,
                                                mbs / base_mbs[False], mbs / base_mbs[True]))
        print("            peak threads %d, peak RSS %.1f MB"
              % (peak["threads"], peak["rss_kb"] / 1024))
        print("second run: exit %d, %d fetched, %d already archived, %.2f s, peak threads %d, "
              "peak RSS %.1f MB" % (rc2, fetched2, present2, second_s, peak2["threads"],
                                    peak2["rss_kb"] / 1024))
        print("            after the date queries: %.2f s to the end of the run, at most "
              "%.3f s for one recorder" % (after_queries, one_after))
        if rc or rc2:
            sys.stderr.write(err + err2)
            return 1
        return 0
    finally:
        for p in sims:
            p.terminate()
        for p in sims:
            p.wait()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
