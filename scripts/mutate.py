#!/usr/bin/env python3
"""Plants the faults of a list, one at a time, and says which the tests catch.

    scripts/mutate.py [--list FILE] [--check] [NAME...]   (make mutate; NAMEs pick faults)

The faults live in audio/tests/mutants.txt (its head says how to write one).
Each is a text to find, exactly once, in a file and a text to put instead, so
the list survives code moving around. They are planted into a scratch copy of
the tree under build/mutate/, never into the working tree: the copy is built
with the native preset (clang, ASan, UBSan) through ccache, and for each fault
the test programs that the list maps to its file are rebuilt and run. A fault
is caught when one of them fails, crashes or hangs past the time limit.

Test programs named win_* belong to the Windows layer: for a fault mapped to
them the copy is also built with the preset that the test environment names
(TEST_PRESET), and they run under Wine there. The script then runs itself
inside the test environment (scripts/env/test-env.sh) when not already in one.

Prints one line per fault, then the equivalents and the known survivors with
their reasons, and a summary line. Exits non-zero when a fault survives that is
marked neither equivalent nor known to survive, a marked one is caught, or a
fault's text no longer fits its file.
"""
import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRATCH = os.path.join(ROOT, "build", "mutate", "src")
WINDOWS_TEST_PREFIX = "win_"
TEST_SECONDS = 120  # a test program still running then has hung: caught
JOBS = str(min(2, int(os.environ.get("BUILD_JOBS", "2"))))


@dataclass
class Fault:
    name: str
    what: str
    path: str = ""
    find: list = field(default_factory=list)
    replace: list = field(default_factory=list)
    equivalent: str = ""
    survives: str = ""  # a known survivor, and why it is left
    tests: list = field(default_factory=list)


def parse_list(list_path):
    """The faults of the list, and its map from path prefixes to test programs."""
    faults, test_map = [], []
    current = None
    with open(list_path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            where = f"{list_path}:{number}"
            if line.startswith("#") or not line.strip():
                continue
            if line.startswith("map "):
                prefix, *tests = line.split()[1:]
                test_map.append((prefix, tests))
            elif line.startswith("fault "):
                name, _, what = line[len("fault "):].partition(":")
                current = Fault(name.strip(), what.strip())
                faults.append(current)
            elif current is None:
                sys.exit(f"{where}: a line outside any fault")
            elif line.startswith("in "):
                current.path = line[3:].strip()
            elif line.startswith("tests "):
                current.tests = line.split()[1:]
            elif line.startswith("- ") or line == "-":
                current.find.append(line[2:])
            elif line.startswith("+ ") or line == "+":
                current.replace.append(line[2:])
            elif line.startswith("equivalent:"):
                current.equivalent = line[len("equivalent:"):].strip()
            elif line.startswith("survives:"):
                current.survives = line[len("survives:"):].strip()
            else:
                sys.exit(f"{where}: cannot read {line!r}")
    for fault in faults:
        if not fault.path or not fault.find:
            sys.exit(f"{list_path}: fault {fault.name} needs 'in FILE' and '- text'")
        if not fault.tests:
            fault.tests = next((t for p, t in test_map if fault.path.startswith(p)), [])
        if not fault.tests:
            sys.exit(f"{list_path}: no test program mapped to {fault.path} (fault {fault.name})")
    return faults


def sync_scratch():
    """Copies the tree's files (committed or not) where they differ, so that
    an unchanged file keeps its time stamp and is not rebuilt."""
    listed = subprocess.run(["git", "ls-files", "-z", "-co", "--exclude-standard"], cwd=ROOT,
                            check=True, capture_output=True).stdout.decode().split("\0")
    for rel in filter(None, listed):
        src, dst = os.path.join(ROOT, rel), os.path.join(SCRATCH, rel)
        if not os.path.isfile(src) or (os.path.exists(dst) and filecmp.cmp(src, dst, shallow=False)):
            continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy2(src, dst)


def is_windows(test):
    return test.startswith(WINDOWS_TEST_PREFIX)


def windows_preset():
    return os.environ["TEST_PRESET"]


def preset_of(test):
    return windows_preset() if is_windows(test) else "native"


def bin_dir(test):
    """Where the copy's build puts the program (the presets' output folders)."""
    preset = preset_of(test)
    return os.path.join(SCRATCH, "build", "bin" if preset == "mingw" else os.path.join(preset, "bin"))


def configure(preset):
    """Configures one of the copy's builds, through ccache as scripts/build.sh does."""
    vorbis = os.path.join(ROOT, "build", "third_party", "src")
    if not os.path.isdir(vorbis):
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "fetch-vorbis-sources.sh")], check=True)
    args = ["cmake", "--preset", preset, f"-DVORBIS_SOURCES_DIR={vorbis}"]
    if shutil.which("ccache"):
        os.environ.update(CCACHE_BASEDIR=SCRATCH, CCACHE_NOHASHDIR="1")
        args += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
    subprocess.run(args, cwd=SCRATCH, check=True, stdout=subprocess.DEVNULL)


def build(tests):
    """Builds the test programs, each with its preset; the compiler's complaint, or None."""
    for preset in sorted({preset_of(t) for t in tests}):
        args = ["cmake", "--build", "--preset", preset, "--parallel", JOBS]
        for test in tests:
            if preset_of(test) == preset:
                args += ["--target", test]
        result = subprocess.run(args, cwd=SCRATCH, capture_output=True, text=True)
        if result.returncode != 0:
            return result.stdout[-3000:] + result.stderr[-2000:]
    return None


def first_failure(tests):
    """Runs the test programs in turn; how the first one failed, or None."""
    for test in tests:
        try:
            program = os.path.join(bin_dir(test), test)
            command = [os.environ["WINE"], program + ".exe"] if is_windows(test) else [program]
            result = subprocess.run(command + ["--gtest_brief=1"], capture_output=True,
                                    text=True, errors="replace", timeout=TEST_SECONDS)
        except subprocess.TimeoutExpired:
            return f"{test} hung"
        if result.returncode != 0:
            failed = re.search(r"\[  FAILED  \] (\S+)", result.stdout)
            sanitizer = re.search(r"(AddressSanitizer|UndefinedBehaviorSanitizer|runtime error)", result.stderr)
            how = failed.group(1) if failed else sanitizer.group(1) if sanitizer else f"exit {result.returncode}"
            return f"{test}: {how}"
    return None


def planted(fault, original):
    """The file's text with the fault in it, or None when the find text does
    not occur exactly once."""
    find, replace = "\n".join(fault.find), "\n".join(fault.replace)
    if original.count(find) != 1:
        return None
    return original.replace(find, replace)


def check_fits(faults):
    """Names the faults whose text does not occur exactly once in the working tree's file."""
    stale = 0
    for fault in faults:
        with open(os.path.join(ROOT, fault.path), encoding="utf-8") as f:
            if planted(fault, f.read()) is None:
                print(f"stale: {fault.name} ({fault.path})")
                stale += 1
    print(f"mutate: {len(faults)} faults, {stale} stale")
    return 1 if stale else 0


def run_fault(fault):
    """Plants one fault, builds, tests, restores; ('caught'|'survived'|'stale'|'broken', detail)."""
    path = os.path.join(SCRATCH, fault.path)
    with open(path, encoding="utf-8") as f:
        original = f.read()
    text = planted(fault, original)
    if text is None:
        return "stale", "the text to find is not in the file exactly once"
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        complaint = build(fault.tests)
        if complaint:
            return "broken", "does not compile:\n" + complaint
        failure = first_failure(fault.tests)
        return ("caught", failure) if failure else ("survived", "")
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", default=os.path.join(ROOT, "audio", "tests", "mutants.txt"))
    parser.add_argument("--check", action="store_true", help="only check that every fault fits its file")
    parser.add_argument("names", nargs="*", help="only these faults")
    options = parser.parse_args()
    faults = parse_list(options.list)
    if options.names:
        faults = [f for f in faults if f.name in options.names]
    if options.check:
        sys.exit(check_fits(faults))
    all_tests = sorted({t for f in faults for t in f.tests})
    if any(map(is_windows, all_tests)) and not (os.environ.get("WINE") and os.environ.get("PULSE_SERVER")):
        environment = os.path.join(ROOT, "scripts", "env", "test-env.sh")
        os.execvp("bash", ["bash", environment, "run", sys.executable, *sys.argv])
    os.makedirs(SCRATCH, exist_ok=True)
    sync_scratch()
    for preset in sorted({preset_of(t) for t in all_tests}):
        configure(preset)
    print(f"mutate: {len(faults)} faults; building and checking the unchanged copy first", flush=True)
    complaint = build(all_tests)
    failure = complaint or first_failure(all_tests)
    if failure:
        sys.exit(f"mutate: the unchanged copy does not pass, so no fault can be judged:\n{failure}")

    outcomes = {}
    for number, fault in enumerate(faults, 1):
        start = time.monotonic()
        outcome, detail = run_fault(fault)
        outcomes[fault.name] = outcome
        mark = " (marked equivalent)" if fault.equivalent else " (known survivor)" if fault.survives else ""
        print(f"[{number:2}/{len(faults)}] {outcome.upper():8} {fault.name}{mark}  "
              f"{detail.splitlines()[0] if detail else ''}  ({time.monotonic() - start:.0f} s)", flush=True)
        if outcome == "broken":
            print(detail)
    report(faults, outcomes)
    sys.exit(0 if all(ok(f, outcomes[f.name]) for f in faults) else 1)


def ok(fault, outcome):
    """A fault's outcome is as the list expects: caught, or surviving and marked
    equivalent or known to survive."""
    return outcome == ("survived" if fault.equivalent or fault.survives else "caught")


def report(faults, outcomes):
    """Prints the equivalents, the faults that need a test, and the summary line."""
    equivalents = [f for f in faults if f.equivalent]
    if equivalents:
        print("\nequivalent (no test can tell them from the code):")
        for fault in equivalents:
            print(f"  {fault.name}: {fault.equivalent}")
    known = [f for f in faults if f.survives]
    if known:
        print("\nknown survivors (not caught, left for the reason given):")
        for fault in known:
            print(f"  {fault.name}: {fault.survives}")
    wrong = [f for f in faults if not ok(f, outcomes[f.name])]
    if wrong:
        print("\nneed attention:")
        for fault in wrong:
            print(f"  {outcomes[fault.name]} {fault.name} ({fault.path}): {fault.what}")
    judged = [f for f in faults if not f.equivalent]
    caught = sum(outcomes[f.name] == "caught" for f in judged)
    share = 100.0 * caught / len(judged) if judged else 100.0
    print(f"\nmutate: {len(faults)} faults, {len(equivalents)} equivalent; "
          f"caught {caught} of {len(judged)} ({share:.0f} %), {len(judged) - caught} not caught")


if __name__ == "__main__":
    main()
