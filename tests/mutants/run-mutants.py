#!/usr/bin/env python3
"""Applies each mutant of tests/mutants/mutants.txt to the working tree in turn, rebuilds the
test programs its tests live in, runs those tests and puts the file back as it was.

A mutant is caught when its build fails or one of its tests fails; it survives when they all
pass. Exits 0 only when every mutant was caught; a mutant whose text is no longer in its file
(stale) fails the run too.

    tests/mutants/run-mutants.py [--build-dir DIR] [--jobs N] [ID ...]
"""

import argparse
import configparser
import json
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
LIST = Path(__file__).resolve().parent / "mutants.txt"
TEST_TIMEOUT_S = 60  # one test
RUN_TIMEOUT_S = 900  # all of one mutant's tests


STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


class Interrupted(Exception):
    pass


def on_signal(number, _frame):
    raise Interrupted(signal.Signals(number).name)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: "\n" if m.group(1) == "n" else m.group(1), text)


def read_list(path):
    parser = configparser.ConfigParser(
        interpolation=None, delimiters=("=",), comment_prefixes=("#",), strict=True
    )
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    groups = dict(parser["groups"]) if parser.has_section("groups") else {}
    mutants = []
    for name in parser.sections():
        if name == "groups":
            continue
        entry = parser[name]
        missing = [k for k in ("file", "tests", "what", "from", "to") if k not in entry]
        if missing:
            sys.exit(f"{path.name}: [{name}] lacks {', '.join(missing)}")
        mutants.append(
            {
                "id": name,
                "file": entry["file"],
                "pattern": groups.get(entry["tests"], entry["tests"]),
                "what": entry["what"],
                "from": unescape(entry["from"]).encode(),
                "to": unescape(entry["to"]).encode(),
            }
        )
    return mutants


def end_group(child):
    """Ends a command and everything it started (make's compilers, ctest's tests)."""
    for sig, grace in ((signal.SIGTERM, 10), (signal.SIGKILL, None)):
        try:
            os.killpg(child.pid, sig)
        except ProcessLookupError:
            pass
        try:
            child.wait(timeout=grace)
            return
        except subprocess.TimeoutExpired:
            continue


def run(command, log, timeout=None):
    """Runs a command with its output appended to `log`; its exit code, or None on time-out."""
    with open(log, "ab") as out:
        out.write(("$ " + " ".join(command) + "\n").encode())
        out.flush()
        # A group of its own, so that a stop or a time-out ends the compilers and tests under it.
        child = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT, cwd=ROOT,
                                 start_new_session=True)
        try:
            return child.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        finally:
            if child.poll() is None:
                end_group(child)


def test_targets(build, pattern):
    """The test programs that hold the tests `pattern` selects, by their CMake target names."""
    shown = subprocess.run(
        ["ctest", "--test-dir", str(build), "-R", pattern, "--show-only=json-v1"],
        capture_output=True, check=True, text=True,
    )
    targets = set()
    for test in json.loads(shown.stdout).get("tests", []):
        program = Path(test.get("command", [""])[0])
        if program.is_relative_to(build):
            targets.add(program.name)
    return sorted(targets)


def failed_tests(log_text):
    tail = log_text.split("The following tests FAILED:")[-1]
    return re.findall(r"^\s*\d+ - (\S+)", tail, flags=re.M)


def tree_state():
    return subprocess.run(
        ["git", "status", "--porcelain", "--untracked-files=all"], cwd=ROOT,
        capture_output=True, check=True, text=True,
    ).stdout + subprocess.run(["git", "diff"], cwd=ROOT, capture_output=True, check=True).stdout.hex()


def main():
    options = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    options.add_argument("--build-dir", default=str(ROOT / "build-mutants"))
    options.add_argument("--jobs", "-j", default="2")
    options.add_argument("ids", nargs="*", help="run only these mutants")
    args = options.parse_args()
    build = Path(args.build_dir).resolve()
    logs = build / "mutant-logs"

    mutants = read_list(LIST)
    unknown = set(args.ids) - {m["id"] for m in mutants}
    if unknown:
        sys.exit("no such mutant: " + ", ".join(sorted(unknown)))
    if args.ids:
        mutants = [m for m in mutants if m["id"] in args.ids]

    for sig in STOP_SIGNALS:
        signal.signal(sig, on_signal)
    before = tree_state()
    logs.mkdir(parents=True, exist_ok=True)
    setup_log = logs / "setup.log"
    setup_log.write_bytes(b"")

    print(f"Configuring and building {build} (log: {setup_log})", flush=True)
    # The window is built only when a mutant is to be caught by its tests.
    window = any(m["pattern"].startswith("^gui") for m in mutants)
    configure = ["cmake", "-S", str(ROOT), "-B", str(build),
                 f"-DTANDRA_BUILD_GUI={'ON' if window else 'OFF'}", "-DTANDRA_BUILD_BENCH=OFF"]
    if run(configure, setup_log) != 0 or run(["cmake", "--build", str(build), "-j", args.jobs],
                                             setup_log) != 0:
        sys.exit(f"The unchanged tree does not build; see {setup_log}")
    for m in mutants:
        m["targets"] = test_targets(build, m["pattern"])
        if not m["targets"]:
            sys.exit(f"[{m['id']}] selects no test: {m['pattern']}")
    union = "|".join(sorted({f"({m['pattern']})" for m in mutants}))
    baseline = run(["ctest", "--test-dir", str(build), "-R", union, "-j", args.jobs,
                    "--timeout", str(TEST_TIMEOUT_S)], setup_log, RUN_TIMEOUT_S)
    if baseline != 0:
        sys.exit(f"The tests fail without any mutant; see {setup_log}")

    results = []
    for number, m in enumerate(mutants, 1):
        results.append((m, try_mutant(m, build, logs, args.jobs)))
        print(f"[{number}/{len(mutants)}] {m['id']}: {results[-1][1]}", flush=True)
    # The test programs back as the tree is, for whoever uses this build next.
    run(["cmake", "--build", str(build), "-j", args.jobs], setup_log)

    report(results)
    if tree_state() != before:
        print("The working tree differs from before the run!", file=sys.stderr)
        return 1
    return 0 if all(r.startswith("caught") for _, r in results) else 1


def try_mutant(m, build, logs, jobs):
    path = ROOT / m["file"]
    original = path.read_bytes()
    found = original.count(m["from"])
    if found != 1:
        return f"stale ({m['file']} holds the text {found} times)"
    log = logs / f"{m['id']}.log"
    log.write_bytes(b"")
    try:
        path.write_bytes(original.replace(m["from"], m["to"]))
        if run(["cmake", "--build", str(build), "-j", jobs, "--target", *m["targets"]], log) != 0:
            return "caught (the build failed)"
        code = run(["ctest", "--test-dir", str(build), "-R", m["pattern"], "-j", jobs,
                    "--timeout", str(TEST_TIMEOUT_S), "--output-on-failure"], log, RUN_TIMEOUT_S)
        if code is None:
            return f"caught (the tests ran past {RUN_TIMEOUT_S} s)"
        if code != 0:
            failed = failed_tests(log.read_text(errors="replace"))
            more = f" and {len(failed) - 2} more" if len(failed) > 2 else ""
            return f"caught by {', '.join(failed[:2]) or 'ctest'}{more}"
        return "SURVIVED"
    finally:
        # Put back with the stop signals held, so that a second Ctrl-C cannot cut it short.
        held = signal.pthread_sigmask(signal.SIG_BLOCK, STOP_SIGNALS)
        path.write_bytes(original)
        # A fresh time, so that the next build takes the file as changed whatever the clock did.
        now = time.time_ns()
        os.utime(path, ns=(now, now))
        signal.pthread_sigmask(signal.SIG_SETMASK, held)


def report(results):
    width = max(len(m["id"]) for m, _ in results)
    print()
    print(f"{'mutant':<{width}}  {'file':<27}  result")
    for m, result in results:
        print(f"{m['id']:<{width}}  {m['file']:<27}  {result}")
        if not result.startswith("caught"):
            print(f"{'':<{width}}  {'':<27}  ({m['what']})")
    caught = sum(r.startswith("caught") for _, r in results)
    survived = sum(r == "SURVIVED" for _, r in results)
    stale = len(results) - caught - survived
    print(f"\n{caught} caught, {survived} survived" + (f", {stale} stale" if stale else ""))


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Interrupted as stop:
        print(f"\nStopped by {stop}; every file is as it was.", file=sys.stderr)
        sys.exit(130)
