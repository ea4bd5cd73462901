#!/usr/bin/env python3
"""Times quorvin-cli's scan against a plain read of the same files and against other CRC-32
tools, on two generated collections in the page cache:

  large  about 2 GB in files of 1-64 MiB
  small  20,000 files of 4-64 KiB

Every round runs every tool once on a set, one after the other, so that they share the
machine's conditions; the table gives the median of the rounds and its ratio to the read
ceiling (quorvin-read: one thread, 256 KiB reads, nothing done with the bytes).

quorvin-stat is the floor for a cached re-run: it lists the folder and asks every file's
attributes, on one thread per core, as a run must to tell an unchanged file from a changed one.

quorvin-cli is timed three ways: without a CRC cache (its file is deleted before each run, so
every file is read and recorded: a first run), with the cache an earlier run left (nothing
changed, so no file is read), and with --rehash (every file read, every record renewed).

  --cold      also time the read ceiling and the scan after dropping the page cache (root)
  --big GIB   also scan one sparse file of GIB GiB for the scan's peak memory
  --keep      keep the generated collections (reused by the next run)
  --zip       instead: zipped collections (10,000 zips of one 16-64 KiB member; one zip of
              50,000 small members), the scan of the zips against the scan of the same ROMs
              loose and against `7z l` and `unzip -v` listing them; `--verify`, with the
              CRC cache of the run before and with --rehash, against `unzip -tq` (which
              inflates and checks every member: the inflate ceiling)

Run it through `bash tools/setup.sh bench`, which installs the tools and builds first.
"""
import argparse
import os
import zipfile
import random
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
MiB = 1024 * 1024
TMP = "/tmp"


def make_collection(folder, sizes, seed):
    """Writes files of the given sizes; their bytes come from one random block at random
    offsets, so every file has its own CRC-32 without generating gigabytes of randomness."""
    marker = os.path.join(folder, ".complete")
    if os.path.exists(marker):
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    rng = random.Random(seed)
    block = os.urandom(64 * MiB + 4096)
    for i, size in enumerate(sizes):
        with open(os.path.join(folder, "rom%05d.bin" % i), "wb") as f:
            written = 0
            while written < size:
                n = min(size - written, 64 * MiB)
                start = rng.randrange(0, 4096)
                f.write(block[start:start + n])
                written += n
    open(marker, "w").close()


def large_sizes():
    rng = random.Random(1)
    sizes, total = [], 0
    while total < 2_000_000_000:
        size = rng.randrange(1 * MiB, 64 * MiB + 1)
        sizes.append(size)
        total += size
    return sizes


def small_sizes():
    rng = random.Random(2)
    return [rng.randrange(4 * 1024, 64 * 1024 + 1) for _ in range(20000)]


def run(cmd, env=None):
    """Wall time of one command, started straight from here. (Through GNU time, as
    peak_memory runs it, even /bin/true takes 6.5 ms on the test machine: more than a cached
    re-run of the large set costs.)"""
    start = time.perf_counter()
    proc = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), proc.stderr.decode(errors="replace")))
    return elapsed


def peak_memory(cmd, env=None):
    """Peak resident memory (MiB) of one command, from GNU time: a child forked straight from
    this (large) Python process would count the parent's memory in its own peak."""
    stats = os.path.join(TMP, "time.txt")
    proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", stats] + cmd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), proc.stderr.decode(errors="replace")))
    with open(stats) as f:
        peak_kib = int(f.read().split()[-1])
    return peak_kib / 1024.0


def rom_bytes(rng, size):
    """Bytes that deflate about as ROM images do (to half or so), not random noise."""
    words = [bytes(rng.randrange(256) for _ in range(rng.randrange(2, 9))) for _ in range(64)]
    out = bytearray()
    while len(out) < size:
        out += words[rng.randrange(64)]
    return bytes(out[:size])


def make_zip_sets(work):
    """many/: 10,000 zips of one 16-64 KiB member, many-loose/: the same ROMs; one/: one zip
    of 50,000 members of 1-4 KiB, one-loose/: the same ROMs."""
    sets = []
    rng = random.Random(3)
    many, many_loose = os.path.join(work, "many"), os.path.join(work, "many-loose")
    one, one_loose = os.path.join(work, "one"), os.path.join(work, "one-loose")
    if not os.path.exists(os.path.join(work, ".zip-complete")):
        for d in (many, many_loose, one, one_loose):
            shutil.rmtree(d, ignore_errors=True)
            os.makedirs(d)
        for i in range(10000):
            data = rom_bytes(rng, rng.randrange(16 * 1024, 64 * 1024 + 1))
            with open(os.path.join(many_loose, "rom%05d.bin" % i), "wb") as f:
                f.write(data)
            with zipfile.ZipFile(os.path.join(many, "rom%05d.zip" % i), "w",
                                 zipfile.ZIP_DEFLATED) as z:
                z.writestr("rom%05d.bin" % i, data)
        with zipfile.ZipFile(os.path.join(one, "all.zip"), "w", zipfile.ZIP_DEFLATED) as z:
            for i in range(50000):
                data = rom_bytes(rng, rng.randrange(1024, 4 * 1024 + 1))
                z.writestr("rom%05d.bin" % i, data)
                with open(os.path.join(one_loose, "rom%05d.bin" % i), "wb") as f:
                    f.write(data)
        open(os.path.join(work, ".zip-complete"), "w").close()
    sets.append(("10,000 zips of one 16-64 KiB member", many, many_loose))
    sets.append(("one zip of 50,000 members of 1-4 KiB", one, one_loose))
    return sets


def run_cpu(cmd, env=None):
    """Wall time and processor time (user + system) of one command: on a shared machine the
    processor time says what the work cost when the wall time says mostly how busy it was."""
    stats = os.path.join(TMP, "time.txt")
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-f", "%U %S", "-o", stats] + cmd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    elapsed = time.perf_counter() - start
    if proc.returncode not in (0, 3):  # 3: done with warnings
        sys.exit("failed: %s\n%s" % (" ".join(cmd), proc.stderr.decode(errors="replace")))
    with open(stats) as f:
        user, system = f.read().split()[-2:]
    return elapsed, float(user) + float(system)


def zip_bench(args, cli, reader, env, out_dat, no_cache):
    def scan(folder, ext, verify=False, rehash=False):
        return [cli] + (["--verify"] if verify else []) + (["--rehash"] if rehash else []) + [
            "|%s|%s|bench|||0||%s||0|0|0|0|0" % (folder, ext, out_dat)]

    sets = make_zip_sets(args.work)
    print()
    print("Page cache warm, median of %d rounds (best in brackets):" % args.rounds)
    print()
    print("| tool | " + " | ".join(what for what, _, _ in sets) + " |")
    print("|---|" + "---|" * len(sets))
    # label, command, what to do before each run (not timed). A listing of zips does not use
    # the CRC cache; the check of their members does (--rehash: every member inflated). The
    # loose scan is timed without a cache (every file read, as before the cache existed) and
    # with the cache of the run before.
    loose = "quorvin-cli, the same ROMs loose"
    rows = [
        ("quorvin-cli, zips", lambda z, l: scan(z, "zip"), None),
        (loose, lambda z, l: scan(l, "bin"), no_cache),
        (loose + ", CRC cache of the run before", lambda z, l: scan(l, "bin"), None),
        ("7z l", lambda z, l: ["7z", "l", "-an", "-ai!" + os.path.join(z, "*.zip")], None),
        ("unzip -v", lambda z, l: ["unzip", "-v", os.path.join(z, "*.zip")], None),
        ("quorvin-cli --verify --rehash", lambda z, l: scan(z, "zip", True, True), None),
        ("quorvin-cli --verify, CRC cache of the run before", lambda z, l: scan(z, "zip", True),
         None),
        ("unzip -tq (inflate ceiling)", lambda z, l: ["unzip", "-tq", os.path.join(z, "*.zip")],
         None),
    ]
    table = {label: [] for label, _, _ in rows}
    cpu = {label: [] for label, _, _ in rows}
    for what, zips, loose in sets:
        run([reader, zips])
        run([reader, loose])
        times = {label: [] for label, _, _ in rows}
        cpus = {label: [] for label, _, _ in rows}
        for _ in range(args.rounds):
            for label, cmd, before in rows:
                if before:
                    before()
                wall, used = run_cpu(cmd(zips, loose), env)
                times[label].append(wall)
                cpus[label].append(used)
        for label, _, _ in rows:
            table[label].append(times[label])
            cpu[label].append(cpus[label])
    for label, _, _ in rows:
        cells = []
        for i in range(len(sets)):
            t = table[label][i]
            if label.startswith(loose) or label.startswith("7z") or \
                    label.startswith("unzip -v"):
                base = statistics.median(table["quorvin-cli, zips"][i])
            elif label.startswith("quorvin-cli --verify"):
                base = statistics.median(table["unzip -tq (inflate ceiling)"][i])
            else:
                base = statistics.median(t)
            cells.append("%.3f s (%.3f) %.2fx, cpu %.2f s" %
                         (statistics.median(t), min(t), statistics.median(t) / base,
                          statistics.median(cpu[label][i])))
        print("| %s | %s |" % (label, " | ".join(cells)))
    print()
    print("Ratios: listing rows to the scan of the zips; --verify to unzip -tq. cpu: user +")
    print("system time, median.")
    if not args.keep:
        for _, zips, loose in sets:
            shutil.rmtree(zips, ignore_errors=True)
            shutil.rmtree(loose, ignore_errors=True)
        os.remove(os.path.join(args.work, ".zip-complete"))


def drop_caches():
    subprocess.run(["sync"], check=True)
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(REPO, "build", "release"))
    ap.add_argument("--work", default=os.path.join(REPO, "build", "bench-data"))
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--cold", action="store_true")
    ap.add_argument("--big", type=float, default=0)
    ap.add_argument("--keep", action="store_true")
    ap.add_argument("--zip", action="store_true")
    args = ap.parse_args()

    global TMP
    os.makedirs(args.work, exist_ok=True)
    TMP = args.work
    cli = os.path.join(args.build, "app", "quorvin-cli")
    reader = os.path.join(args.build, "bench", "quorvin-read")
    stater = os.path.join(args.build, "bench", "quorvin-stat")
    for prog in (cli, reader, stater):
        if not os.access(prog, os.X_OK):
            sys.exit("%s is missing: build first (bash tools/setup.sh bench)" % prog)
    home = os.path.join(args.work, "home")
    for sub in ("presets", "conversions"):
        os.makedirs(os.path.join(home, sub), exist_ok=True)
    env = dict(os.environ, QUORVIN_HOME=home)
    out_dat = os.path.join(args.work, "out.dat")

    def scan(folder):
        return [cli, "|%s|bin|bench|||0||%s||0|0|0|0|0" % (folder, out_dat)]

    cache = os.path.join(home, "crccache.db")

    def no_cache():
        for suffix in ("", "-wal", "-shm"):
            if os.path.exists(cache + suffix):
                os.remove(cache + suffix)

    if args.zip:
        print("machine: %s, %d cores; load average at start %.2f %.2f %.2f" %
              ((cpu_model(), os.cpu_count()) + os.getloadavg()))
        zip_bench(args, cli, reader, env, out_dat, no_cache)
        print("load average at end %.2f %.2f %.2f" % os.getloadavg())
        return

    # label, command, present, what to do before each run (not timed)
    tools = [
        ("starting a process (/bin/true)", lambda d: ["/bin/true"], True, None),
        ("read ceiling (1 thread)", lambda d: [reader, d], True, None),
        ("stat floor (list, stat every file; 1 thread a core)", lambda d: [stater, d], True,
         None),
        ("quorvin-cli, no CRC cache (first run)", scan, True, no_cache),
        ("quorvin-cli, CRC cache of an earlier run", scan, True, None),
        ("quorvin-cli --rehash", lambda d: [cli, "--rehash"] + scan(d)[1:], True, None),
        ("7z h -scrcCRC32", lambda d: ["7z", "h", "-scrcCRC32", d], shutil.which("7z"), None),
        ("rhash --crc32", lambda d: ["rhash", "--crc32", "-r", d], shutil.which("rhash"), None),
        ("Python zlib.crc32", lambda d: [sys.executable, os.path.join(HERE, "zlib_crc32.py"), d],
         True, None),
    ]
    sets = [("large", "about 2 GB, files of 1-64 MiB", large_sizes()),
            ("small", "20,000 files of 4-64 KiB", small_sizes())]

    print("machine: %s, %d cores; load average at start %.2f %.2f %.2f" %
          ((cpu_model(), os.cpu_count()) + os.getloadavg()))
    subprocess.run([cli, "--version"], stdout=subprocess.DEVNULL, env=env)
    results = {}
    for i, (name, what, sizes) in enumerate(sets):
        folder = os.path.join(args.work, name)
        print("making %s set (%s, %.2f GB) in %s ..." % (name, what, sum(sizes) / 1e9, folder),
              flush=True)
        make_collection(folder, sizes, seed=10 + i)
        # The cache does not record a file changed less than two seconds before it is read.
        time.sleep(2.1)
        run([reader, folder])  # warm the page cache
        run(scan(folder), env)
        times = {t[0]: [] for t in tools if t[2]}
        rss = {}
        for _ in range(args.rounds):
            for label, cmd, present, prepare in tools:
                if not present:
                    continue
                if prepare:
                    prepare()
                times[label].append(run(cmd(folder), env))
        for label, cmd, present, prepare in tools:
            if present:
                if prepare:
                    prepare()
                rss[label] = peak_memory(cmd(folder), env)
        results[name] = (what, sum(sizes), times, rss)

    print()
    print("Page cache warm, median of %d rounds (best in brackets); ratio to the read ceiling:"
          % args.rounds)
    print()
    print("| tool | " + " | ".join("%s: %s" % (n, w) for n, (w, _, _, _) in results.items()) + " |")
    print("|---|" + "---|" * len(results))
    for label, _, present, _ in tools:
        if not present:
            print("| %s | %s |" % (label, " | ".join("not installed" for _ in results)))
            continue
        cells = []
        for name, (_, _, times, rss) in results.items():
            ceiling = statistics.median(times[tools[1][0]])
            med = statistics.median(times[label])
            cells.append("%.3f s (%.3f) %.2fx, %.0f MiB" %
                         (med, min(times[label]), med / ceiling, rss[label]))
        print("| %s | %s |" % (label, " | ".join(cells)))
    print()

    if args.cold:
        print("Page cache cold (dropped before every run), best of 3:")
        for name, (what, total, _, _) in results.items():
            folder = os.path.join(args.work, name)
            best = {}
            for _ in range(3):
                for label, cmd in (("read", [reader, folder]), ("scan", scan(folder))):
                    no_cache()
                    drop_caches()
                    best[label] = min(best.get(label, 1e9), run(cmd, env))
            print("  %s: read ceiling %.3f s (%.2f GB/s), quorvin-cli %.3f s = %.2fx" %
                  (name, best["read"], total / best["read"] / 1e9, best["scan"],
                   best["scan"] / best["read"]))
        print()

    if args.big > 0:
        folder = os.path.join(args.work, "big")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "huge.bin")
        size = int(args.big * 1024 * MiB)
        with open(path, "wb") as f:
            f.truncate(size)  # sparse: no disk space, reads as zeros
        try:
            first = run([reader, folder])  # brings the (zero) pages into the page cache
            ceiling = run([reader, folder])
            no_cache()
            elapsed = run(scan(folder), env)
            no_cache()
            peak = peak_memory(scan(folder), env)
            print("one sparse file of %.1f GiB: first read %.2f s, read ceiling %.2f s, "
                  "quorvin-cli %.2f s = %.2fx, peak memory %.1f MiB" %
                  (args.big, first, ceiling, elapsed, elapsed / ceiling, peak))
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    print("load average at end %.2f %.2f %.2f" % os.getloadavg())
    if not args.keep:
        for name, _, _ in sets:
            shutil.rmtree(os.path.join(args.work, name), ignore_errors=True)


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown processor"


if __name__ == "__main__":
    main()
