#!/usr/bin/env python3
"""Checks the Windows package: exactly Gleanor.exe, the pass-through
WNASPI32.DLL (not the simulated drive's) and README.txt, at the top; and
Gleanor.exe's embedded application manifest (resource type 24, id 1)."""
import struct
import sys
import zipfile

RT_MANIFEST = 24
# What the manifest must declare: the rights to open drives, the common
# controls, DPI awareness, and Windows 10/11 among the supported versions.
MANIFEST_TERMS = [
    b'level="requireAdministrator"',
    b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
    b">true</dpiAware>",
    b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
]


def resource(pe, type_id, name_id):
    """The bytes of one resource of a PE image, or None."""
    if pe[:2] != b"MZ":
        return None
    nt = struct.unpack_from("<I", pe, 0x3C)[0]
    if pe[nt:nt + 4] != b"PE\0\0":
        return None
    sections, optional_size = struct.unpack_from("<H12xH", pe, nt + 6)
    optional = nt + 24
    magic = struct.unpack_from("<H", pe, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", pe, directories + 2 * 8)[0]
    table = optional + optional_size
    for i in range(sections):
        _, size, rva, raw_size, raw = struct.unpack_from("<8sIIII", pe, table + 40 * i)
        if rva <= rsrc_rva < rva + max(size, raw_size):
            base = raw + rsrc_rva - rva
            break
    else:
        return None

    def entry(directory, wanted):
        named, numbered = struct.unpack_from("<HH", pe, base + directory + 12)
        for k in range(named + numbered):
            key, target = struct.unpack_from("<II", pe, base + directory + 16 + 8 * k)
            if wanted is None or (not key & 0x80000000 and key == wanted):
                return target
        return None

    level = 0
    for wanted in (type_id, name_id):
        target = entry(level, wanted)
        if target is None or not target & 0x80000000:
            return None
        level = target & 0x7FFFFFFF
    target = entry(level, None)  # the first language: a data entry
    if target is None or target & 0x80000000:
        return None
    data_rva, size = struct.unpack_from("<II", pe, base + target)
    start = base + data_rva - rsrc_rva
    return pe[start:start + size]


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
        manifest = resource(exe, RT_MANIFEST, 1)
        if manifest is None:
            problems.append("Gleanor.exe has no application manifest")
        else:
            problems += [f"Gleanor.exe's manifest lacks {t.decode()}" for t in MANIFEST_TERMS if t not in manifest]
for p in problems:
    print(f"{path}: {p}")
print(f"package {path}: {'ok' if not problems else 'FAILED'} ({', '.join(names)})")
sys.exit(1 if problems else 0)
