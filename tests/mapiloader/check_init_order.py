#!/usr/bin/env python3
"""Checks that the MAPI loader is the last static initialiser Hearthkit.dll runs.

mingw's runtime runs the constructor list (__CTOR_LIST__: -1, entries..., 0)
from its last entry to its first, so the loader's initialiser must be the
first entry, with every other initialiser of the library after it.

usage: check_init_order.py <nm> <Hearthkit.dll>
"""
import struct
import subprocess
import sys

LOADER_INIT = "_GLOBAL__sub_I__ZN10MAPILoader10s_instanceE"


def symbols(nm, dll):
    by_name, by_address = {}, {}
    for line in subprocess.run([nm, dll], check=True, capture_output=True, text=True).stdout.splitlines():
        parts = line.split()
        if len(parts) == 3:
            address = int(parts[0], 16)
            by_name[parts[2]] = address
            # Section symbols (".text...") name an address only when nothing else does.
            if parts[1] in "tT" and (address not in by_address or by_address[address].startswith(".")):
                by_address[address] = parts[2]
    return by_name, by_address


def read_at(image, address, size):
    """Reads size bytes at a virtual address from the PE file."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    image_base = struct.unpack_from("<Q", image, pe + 24 + 24)[0]
    rva = address - image_base
    table = pe + 24 + optional_size
    for i in range(sections):
        vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", image, table + 40 * i + 8)
        if vaddr <= rva < vaddr + max(vsize, raw_size):
            return image[raw_ptr + rva - vaddr: raw_ptr + rva - vaddr + size]
    raise SystemExit("address 0x%x is in no section" % address)


def main():
    nm, dll = sys.argv[1], sys.argv[2]
    by_name, by_address = symbols(nm, dll)
    image = open(dll, "rb").read()
    start = by_name["__CTOR_LIST__"]
    entries = []
    offset = 8  # past the -1 head
    while True:
        (entry,) = struct.unpack("<Q", read_at(image, start + offset, 8))
        if entry == 0:
            break
        entries.append(by_address.get(entry, "0x%x" % entry))
        offset += 8
    print("run order (last first):", *entries, sep="\n  ")
    if LOADER_INIT not in entries:
        print("FAIL: the loader's initialiser is not in the constructor list")
        return 1
    if entries[0] != LOADER_INIT:
        print("FAIL: runs after the loader:", ", ".join(entries[: entries.index(LOADER_INIT)]))
        return 1
    if len(entries) < 2:
        print("FAIL: no other initialiser in the list (the runtime's own are expected)")
        return 1
    print("OK: %d initialisers run before the loader" % (len(entries) - 1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
