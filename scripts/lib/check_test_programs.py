#!/usr/bin/env python3
"""Checks, before any test runs, that the Windows programs a set of CTest tests
start exist and are built for the machine their loader runs.

    check_test_programs.py PRESET MACHINE [ctest label options...]

MACHINE is i386 or amd64. Exits 1 naming every test whose program is missing
or of the wrong machine, or when the preset lists no test at all.
"""
import json
import struct
import subprocess
import sys

from pe_file import PeFile  # tests/support, on PYTHONPATH

MACHINES = {0x14C: 'i386', 0x8664: 'amd64'}


def pe_machine(path):
    """The machine named in a PE file's header, or None if it is no PE file."""
    with open(path, 'rb') as f:
        try:
            return MACHINES.get(PeFile(f.read()).machine, 'other')
        except (ValueError, IndexError, struct.error):
            return None


def main():
    preset, machine, labels = sys.argv[1], sys.argv[2], sys.argv[3:]
    listing = subprocess.run(['ctest', '--preset', preset, '--show-only=json-v1', *labels],
                             capture_output=True, text=True)
    if listing.returncode != 0:
        sys.exit(f'self-check: preset {preset} has no build to test: {listing.stderr.strip()}')
    tests = json.loads(listing.stdout)['tests']
    if not tests:
        sys.exit(f'self-check: preset {preset} lists no test {" ".join(labels)}')
    problems = []
    for test in tests:
        for arg in test.get('command', [])[1:]:
            if not arg.lower().endswith('.exe'):
                continue
            try:
                found = pe_machine(arg)
            except OSError:
                problems.append(f'{test["name"]}: {arg} was not built')
                continue
            if found != machine:
                problems.append(f'{test["name"]}: {arg} is {found}, but this path runs {machine} programs')
    if problems:
        sys.exit('self-check: these tests cannot start on this host:\n  ' + '\n  '.join(problems))
    print(f'self-check: {len(tests)} tests of preset {preset} start {machine} programs that are built')


if __name__ == '__main__':
    main()
