#!/usr/bin/env python3
"""Checks the Windows package: exactly Gleanor.exe, the pass-through
WNASPI32.DLL (not the simulated drive's) and README.txt, at the top."""
import sys
import zipfile

path = sys.argv[1]
with zipfile.ZipFile(path) as z:
    names = sorted(z.namelist())
    problems = []
    if names != ["Gleanor.exe", "README.txt", "WNASPI32.DLL"]:
        problems.append(f"files {names}")
    else:
        dll = z.read("WNASPI32.DLL")
        exe = z.read("Gleanor.exe")
        if b"GLEANOR_ASPI_TRACE" not in dll or b"GLEANOR_SIM" in dll:
            problems.append("WNASPI32.DLL is not the pass-through manager")
        if not (exe.startswith(b"MZ") and dll.startswith(b"MZ")):
            problems.append("not Windows executables")
        if b"administrator" not in z.read("README.txt"):
            problems.append("README.txt says nothing of administrator rights")
for p in problems:
    print(f"{path}: {p}")
print(f"package {path}: {'ok' if not problems else 'FAILED'} ({', '.join(names)})")
sys.exit(1 if problems else 0)
