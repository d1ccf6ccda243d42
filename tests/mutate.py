#!/usr/bin/env python3
"""Mutation campaign: plants each fault of tests/mutate-faults.toml in a
scratch copy of the sources, builds it and runs the test suite, and reports
which faults the suite catches (and by which test) and which survive.

  tests/mutate.py --report R.md --json R.json [--rev REV] [--work DIR]
                  [--only NAME,NAME] [--hints OLD.json]

The copy is `git archive REV` in DIR (default /work/mutate-<checkout name>),
built in DIR/build; the developer's tree and build are never touched. A
later campaign in the same DIR rewrites only the files that differ and
rebuilds incrementally. Each fault is
tried first against the tests it names (and, with --hints, the program that
caught it in an earlier campaign), building only their programs; then each
fault those miss gets the whole suite (not with --quick): ctest -j2
--stop-on-failure --timeout 300.
The file is restored after each fault. The reports are rewritten after each
fault, so an interrupted campaign leaves what it found.
"""

import argparse
import contextlib
import json
import os
import re
import shutil
import subprocess
import sys
import time
import tomllib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FAILED_LINE = re.compile(r"^\s*\d+ - (.+?) \(([^()]+)\)$")


def run(cmd, cwd, log):
    """Runs `cmd`, appending its output to `log`; answers (exit code, output)."""
    out = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                         errors="replace")
    with open(log, "a") as f:
        f.write(f"$ {' '.join(map(str, cmd))}\n{out.stdout}\n")
    return out.returncode, out.stdout


def load_faults(only):
    faults = tomllib.loads((ROOT / "tests/mutate-faults.toml").read_text())["fault"]
    names = [f["name"] for f in faults]
    if len(set(names)) != len(names):
        sys.exit("mutate: fault names must be unique")
    if only:
        wanted = set(only.split(","))
        if unknown := wanted - set(names):
            sys.exit(f"mutate: no fault named {', '.join(sorted(unknown))}")
        faults = [f for f in faults if f["name"] in wanted]
    return faults


def prepare(work, rev, log):
    """A copy of `rev` in `work`, configured."""
    stamp = work / ".mutate-rev"
    if not stamp.exists() or stamp.read_text() != rev:
        # Only the files that differ are written (and get a new time), so an
        # earlier campaign's build in `work` is reused incrementally.
        fresh = work.with_name(work.name + ".fresh")
        subprocess.check_call(["rm", "-rf", fresh])
        fresh.mkdir(parents=True)
        archive = subprocess.Popen(["git", "-C", ROOT, "archive", rev], stdout=subprocess.PIPE)
        subprocess.check_call(["tar", "-x", "-C", fresh], stdin=archive.stdout)
        archive.wait()
        sync_tree(fresh, work)
        subprocess.check_call(["rm", "-rf", fresh])
        stamp.write_text(rev)
    if run(["cmake", "-S", ".", "-B", "build", "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
            "-DVARNOX_BUILD_BENCH=OFF"], work, log)[0] != 0:
        sys.exit(f"mutate: configuring {work} failed, see {log}")


def baseline(work, programs, log):
    """Builds `programs` (None: everything) and runs their tests, which must pass."""
    targets = None if programs is None else targets_of(programs, work) or ["varnox_generated"]
    if build(work, targets, log) != 0:
        sys.exit(f"mutate: {work} does not build, see {log}")
    failed = suite(work, None if programs is None else test_numbers(work, programs) or [0], log)
    if failed:
        sys.exit(f"mutate: {work} fails {failed} before any fault, see {log}")


def sync_tree(source, target):
    """Makes `target` hold what `source` holds, writing only what differs
    (its build/ and stamp kept)."""
    wanted = {p.relative_to(source) for p in source.rglob("*") if p.is_file()}
    for rel in sorted(wanted):
        src, dst = source / rel, target / rel
        if not dst.is_file() or dst.read_bytes() != src.read_bytes():
            dst.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(src, dst)
            shutil.copymode(src, dst)
    for p in target.rglob("*"):
        rel = p.relative_to(target)
        if rel.parts[0] not in ("build", ".mutate-rev") and p.is_file() and rel not in wanted:
            p.unlink()


def build(work, targets, log):
    """Builds `targets` (None: everything)."""
    cmd = ["cmake", "--build", "build", "-j2"] + (["-t", *targets] if targets is not None else [])
    return run(cmd, work, log)[0]


def test_numbers(work, programs):
    """The ctest numbers of the tests run by `programs` (or named so)."""
    info = json.loads(subprocess.check_output(["ctest", "--show-only=json-v1"], cwd=work / "build"))
    numbers = []
    for number, test in enumerate(info["tests"], 1):
        program = Path(test.get("command", [""])[0]).name
        if program in programs or test["name"] in programs:
            numbers.append(number)
    return numbers


def suite(work, numbers, log):
    """Runs the suite (or the tests numbered); answers the first failing test or None."""
    cmd = ["ctest", "-j2", "--stop-on-failure", "--timeout", "300"]
    if numbers is not None:
        cmd += ["-I", "0,0,0," + ",".join(map(str, numbers))]
    code, out = run(cmd, work / "build", log)
    if code == 0:
        return None
    failed = [m.group(1) for m in map(FAILED_LINE.match, out.splitlines()) if m]
    return failed[0] if failed else f"ctest exit {code}"


def targets_of(programs, work):
    """The build targets among `programs` (test names that are no program are skipped)."""
    known = subprocess.check_output(["cmake", "--build", "build", "-t", "help"], cwd=work,
                                    text=True)
    return [p for p in programs if re.search(rf"^{re.escape(p)}:", known, re.M)]


@contextlib.contextmanager
def planted(fault, work):
    """Context: `fault` planted in the copy, the file restored on leaving."""
    path = work / fault["file"]
    original = path.read_text()
    count = original.count(fault["find"])
    if count == 1:
        path.write_text(original.replace(fault["find"], fault["replace"]))
    try:
        yield count == 1
    finally:
        path.write_text(original)


def quick_try(fault, work, programs, baselined, log):
    """The fault against the tests of `programs` only; None when they miss it.
    Programs not yet in `baselined` are built and checked unmutated first."""
    if fresh := [p for p in programs if p not in baselined]:
        baseline(work, fresh, log)
        baselined.update(fresh)
    with planted(fault, work) as ok:
        if not ok:
            return {"result": "stale", "test": "the text to replace is not found once"}
        if not programs:
            return None
        if build(work, targets_of(programs, work) or ["varnox_generated"], log) != 0:
            return {"result": "no build", "test": "compiler"}
        numbers = test_numbers(work, programs)
        caught = suite(work, numbers, log) if numbers else None
        return {"result": "caught", "test": caught} if caught else None


def full_try(fault, work, log):
    """The fault against the whole suite."""
    with planted(fault, work) as ok:
        if not ok:
            return {"result": "stale", "test": "the text to replace is not found once"}
        if build(work, None, log) != 0:
            return {"result": "no build", "test": "compiler"}
        caught = suite(work, None, log)
        return {"result": "caught", "test": caught} if caught else {"result": "survived", "test": ""}


def write_reports(results, rev, md, js):
    Path(js).write_text(json.dumps({"rev": rev, "faults": results}, indent=1) + "\n")
    counts = {r: sum(1 for x in results if x["result"] == r)
              for r in ("caught", "survived", "missed by its tests", "no build", "stale")}
    lines = [f"# Mutation campaign on {rev[:12]}", "",
             ", ".join(f"{n} {r}" for r, n in counts.items()) + f" of {len(results)} faults", "",
             "| fault | file | what | result | first failing test | s |", "|---|---|---|---|---|---|"]
    for r in results:
        test = r["test"].split("  # GetParam()")[0]  # a parameter's bytes say nothing
        lines.append(f"| {r['name']} | {r['file']} | {r['why']} | {r['result']} | {test} | "
                     f"{r['seconds']} |")
    Path(md).write_text("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--report", required=True, help="markdown report to write")
    parser.add_argument("--json", required=True, help="machine-readable result to write")
    parser.add_argument("--rev", default="HEAD", help="commit to mutate (default HEAD)")
    parser.add_argument("--work", help="scratch directory (default /work/mutate-<checkout name>)")
    parser.add_argument("--only", default="", help="comma-separated fault names")
    parser.add_argument("--hints", help="an earlier campaign's json: try its catching test first")
    parser.add_argument("--quick", action="store_true",
                        help="only the tests each fault names, not the whole suite after")
    args = parser.parse_args()
    faults = load_faults(args.only)
    sha = subprocess.check_output(["git", "-C", ROOT, "rev-parse", args.rev], text=True).strip()
    work = Path(args.work or f"/work/mutate-{ROOT.name}").resolve()
    for report in (args.report, args.json):
        Path(report).resolve().parent.mkdir(parents=True, exist_ok=True)
    log = Path(args.json).resolve().with_suffix(".log")
    log.write_text("")
    hints = {}
    if args.hints:
        for r in json.loads(Path(args.hints).read_text())["faults"]:
            if r["result"] == "caught":
                hints[r["name"]] = [r["program"]]
    programs_of = {f["name"]: list(dict.fromkeys(hints.get(f["name"], []) + f.get("tests", [])))
                   for f in faults}
    prepare(work, sha, log)
    # First each fault against the tests it names, the cheapest to rebuild
    # first; then the whole suite for those they miss. The reports say where
    # each fault stands.
    faults.sort(key=rebuild_cost)
    results, baselined = {}, set()
    for fault in faults:
        record(results, fault, lambda: quick_try(fault, work, programs_of[fault["name"]], baselined,
                                                 log) or {"result": "missed by its tests", "test": ""},
               work, sha, args)
    missed = [f for f in faults if results[f["name"]]["result"] == "missed by its tests"]
    if missed and not args.quick:
        baseline(work, None, log)
        for fault in missed:
            record(results, fault, lambda: full_try(fault, work, log), work, sha, args)


def rebuild_cost(fault):
    """Roughly how much a fault makes rebuild: the generator's checks and
    the LENEX library least, then the kernel's and the framework's sources,
    the native face's, and headers most."""
    path = Path(fault["file"])
    if path.suffix != ".cpp":
        return 0 if path.suffix == ".py" else 5
    return {"lenex": 1, "kernel": 2, "framework": 3}.get(path.parts[0], 4)


def record(results, fault, attempt, work, sha, args):
    started = time.monotonic()
    result = attempt()
    result.update(name=fault["name"], file=fault["file"], why=fault["why"],
                  seconds=round(time.monotonic() - started), program=program_of(work, result["test"]))
    results[fault["name"]] = result
    print(f"{fault['name']}: {result['result']} {result['test']}", flush=True)
    write_reports(list(results.values()), sha, args.report, args.json)


def program_of(work, test):
    """The program of the build that runs test `test`; else the test's name."""
    info = json.loads(subprocess.check_output(["ctest", "--show-only=json-v1"], cwd=work / "build"))
    for t in info["tests"]:
        program = Path(t.get("command", [""])[0])
        if t["name"] == test and (work / "build") in program.parents:
            return program.name
    return test


if __name__ == "__main__":
    main()
