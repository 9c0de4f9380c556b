#!/usr/bin/env python3
"""Runs one conformance area on both sides and compares their answers.

The area's program prints one "<check>: <answer>" line per check. The Windows build runs under
Wine with the current drive C: (so the device path "\\" is the prefix's drive_c), the native
build against a fresh device home. Every check must give the same answer on both sides, or
stand in the table of expected differences with the same two answers and a reason; a row of
the table that no longer matches a difference fails too, so the table never goes stale.

The Windows side's answers depend only on its program and the time zone. A build whose
sanitizers judge the native side runs the same Windows programs as the plain build: it takes the
answers the plain build's run kept for the same program (--wine-answers-from) rather than start
Wine again, and runs Wine only when there are none for that program.

Exit status: 0 when everything agrees or is expected, 1 otherwise, 77 when skipped.
"""
import argparse
import fcntl
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

TIMEOUT_SECONDS = 300


def parse_answers(output, side):
    answers, problems = {}, []
    for number, line in enumerate(output.splitlines(), 1):
        check, sep, value = line.partition(": ")
        if not sep:
            if line.strip():
                problems.append(f"{side} line {number} is not '<check>: <answer>': {line!r}")
            continue
        if check in answers:
            problems.append(f"{side} answers '{check}' twice")
        answers[check] = value
    return answers, problems


def read_table(path, area):
    """Rows of the table for this area: {check: (ours, wine, kind, reason, line)}."""
    rows, problems = {}, []
    with open(path, encoding="utf-8") as table:
        for number, line in enumerate(table, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            fields = [f.strip() for f in line.split(" | ")]
            if len(fields) != 6:
                problems.append(f"{path}:{number}: want 'area | check | ours | wine | kind | reason'")
                continue
            row_area, check, ours, wine, kind, reason = fields
            if kind not in ("device", "wine"):
                problems.append(f"{path}:{number}: kind must be 'device' or 'wine', not {kind!r}")
            if not reason:
                problems.append(f"{path}:{number}: a difference needs its reason")
            if row_area != area:
                continue
            if check in rows:
                problems.append(f"{path}:{number}: '{check}' is listed twice")
            rows[check] = (ours, wine, kind, reason, number)
    return rows, problems


def run(command, env, cwd):
    try:
        done = subprocess.run(command, env=env, cwd=cwd, capture_output=True,
                              timeout=TIMEOUT_SECONDS)
    except subprocess.TimeoutExpired:
        return None, f"{command[-1]} did not finish within {TIMEOUT_SECONDS} s"
    output = done.stdout.decode("utf-8", "replace")
    if done.returncode != 0:
        tail = done.stderr.decode("utf-8", "replace").strip().splitlines()[-5:]
        return output, (f"{os.path.basename(command[-1])} ended with status {done.returncode}"
                        + "".join(f"\n    {line}" for line in tail))
    return output, None


def prepare_wine_prefix(prefix, env):
    """Creates the shared Wine prefix once; the areas run in parallel, so under a lock."""
    os.makedirs(os.path.dirname(prefix) or ".", exist_ok=True)
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            subprocess.run(["wineboot", "-i"], env=env, capture_output=True,
                           timeout=TIMEOUT_SECONDS)
            subprocess.run(["wineserver", "-w"], env=env, capture_output=True,
                           timeout=TIMEOUT_SECONDS)
        # Without a display Wine creates no window at all unless told to use its null
        # graphics driver, which keeps hidden windows, queues and timers whole.
        marker = os.path.join(prefix, "conformance-null-graphics")
        if not os.path.exists(marker):
            subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\Drivers", "/v",
                            "Graphics", "/d", "null", "/f"], env=env, capture_output=True,
                           timeout=TIMEOUT_SECONDS)
            subprocess.run(["wineserver", "-w"], env=env, capture_output=True,
                           timeout=TIMEOUT_SECONDS)
            open(marker, "w").close()
    return os.path.join(prefix, "drive_c")


def answers_key(program, tz):
    """What the Windows side's answers depend on: the program's bytes and the time zone."""
    digest = hashlib.sha256()
    with open(program, "rb") as exe:
        for block in iter(lambda: exe.read(1 << 20), b""):
            digest.update(block)
    return {"program_sha256": digest.hexdigest(), "tz": tz}


def kept_answers(path, key):
    """The output kept in `path` for `key`, or None when there is none for it."""
    try:
        with open(path, encoding="utf-8") as kept:
            record = json.load(kept)
    except (OSError, ValueError):
        return None
    if not isinstance(record, dict) or record.get("key") != key:
        return None
    output = record.get("output")
    return output if isinstance(output, str) else None


def keep_answers(path, key, output):
    """Writes the answers whole or not at all: a reader never sees half a file."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    temporary = f"{path}.{os.getpid()}.tmp"
    with open(temporary, "w", encoding="utf-8") as kept:
        json.dump({"key": key, "output": output}, kept)
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--area", required=True)
    parser.add_argument("--native", help="the area built against platform/")
    parser.add_argument("--windows", help="the area built with mingw-w64")
    parser.add_argument("--table", help="the table of expected differences")
    parser.add_argument("--wine-prefix", help="the Wine prefix to run in")
    parser.add_argument("--tz", default="Europe/Berlin",
                        help="time zone of both sides (default: %(default)s)")
    parser.add_argument("--keep-wine-answers", metavar="FILE",
                        help="after a clean run under Wine, keep the Windows side's answers here")
    parser.add_argument("--wine-answers-from", metavar="FILE",
                        help="answers kept by another build's run of the same program, used "
                             "instead of running Wine when they are for this program")
    parser.add_argument("--skip", metavar="REASON", help="say why the area cannot run, exit 77")
    parser.add_argument("--verbose", action="store_true", help="print every check")
    args = parser.parse_args()

    if args.skip:
        print(f"conformance {args.area}: skipped: {args.skip}")
        return 77

    problems = []
    # In memory where the machine offers it: an area may make tens of thousands of durable
    # commits (the registry's name sweep), and their syncs are not what is being compared.
    memory = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    with tempfile.TemporaryDirectory(prefix=f"conformance-{args.area}-", dir=memory) as home:
        for folder in ("fs", "system", "run"):
            os.mkdir(os.path.join(home, folder), 0o700)
        native_env = dict(os.environ, CE_DEVICE_HOME=home, TZ=args.tz, LC_ALL="C.UTF-8")
        native_out, failure = run([os.path.abspath(args.native)], native_env, home)
        if failure:
            problems.append(f"native side: {failure}")

    # No debugger on a crash (winedbg would wait for nobody): the area ends with a status.
    wine_env = dict(os.environ, WINEPREFIX=os.path.abspath(args.wine_prefix), WINEDEBUG="-all",
                    TZ=args.tz, LC_ALL="C.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe=")
    wine_env.pop("DISPLAY", None)
    key = answers_key(args.windows, args.tz)
    wine_out = kept_answers(args.wine_answers_from, key) if args.wine_answers_from else None
    if wine_out is not None:
        print(f"conformance {args.area}: the Windows side's answers are those its run in "
              f"{os.path.dirname(os.path.abspath(args.wine_answers_from))} kept")
    else:
        drive_c = prepare_wine_prefix(wine_env["WINEPREFIX"], wine_env)
        wine_out, failure = run(["wine", os.path.abspath(args.windows)], wine_env, drive_c)
        if failure:
            problems.append(f"Windows side under Wine: {failure}")
        elif args.keep_wine_answers:
            keep_answers(args.keep_wine_answers, key, wine_out)

    ours, parse_problems = parse_answers(native_out or "", "native")
    problems += parse_problems
    wine, parse_problems = parse_answers(wine_out or "", "wine")
    problems += parse_problems
    table, table_problems = read_table(args.table, args.area)
    problems += table_problems

    agree = expected = 0
    unexpected, stale = [], []
    for check in list(ours) + [c for c in wine if c not in ours]:
        mine, theirs = ours.get(check, "(missing)"), wine.get(check, "(missing)")
        row = table.pop(check, None)
        if mine == theirs:
            agree += 1
            if row:
                stale.append(f"'{check}' is listed as a difference (table line {row[4]}) "
                             f"but both sides answer {mine!r}")
        elif row and row[0] == mine and row[1] == theirs:
            expected += 1
        else:
            unexpected.append((check, mine, theirs, row))
        if args.verbose:
            print(f"{'=' if mine == theirs else '≠'} {check}: ours {mine!r}, wine {theirs!r}")
    for check, row in table.items():
        stale.append(f"'{check}' is listed as a difference (table line {row[4]}) "
                     "but no side answers it")

    total = agree + expected + len(unexpected)
    print(f"conformance {args.area}: {total} checks, {agree} agree, {expected} expected "
          f"differences, {len(unexpected)} unexpected, {len(stale)} stale table rows")
    for check, mine, theirs, row in unexpected:
        print(f"DIFFERS {check}\n    ours: {mine}\n    wine: {theirs}")
        if row:
            print(f"    the table (line {row[4]}) expects ours {row[0]!r}, wine {row[1]!r}")
    for line in stale:
        print(f"STALE {line}")
    for line in problems:
        print(f"PROBLEM {line}")
    return 0 if not (unexpected or stale or problems) else 1


if __name__ == "__main__":
    sys.exit(main())
