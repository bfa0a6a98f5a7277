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

nm, dll = sys.argv[1], sys.argv[2]
by_name, by_address = {}, {}
for line in subprocess.run([nm, dll], check=True, capture_output=True, text=True).stdout.splitlines():
    parts = line.split()
    if len(parts) == 3:
        address = int(parts[0], 16)
        by_name[parts[2]] = address
        # Section symbols (".text...") name an address only when nothing else does.
        if parts[1] in "tT" and by_address.get(address, ".").startswith("."):
            by_address[address] = parts[2]

image = open(dll, "rb").read()
pe = struct.unpack_from("<I", image, 0x3C)[0]
sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
image_base = struct.unpack_from("<Q", image, pe + 48)[0]


def entry_at(address):
    """The 8-byte value at a virtual address of the PE file."""
    rva, table = address - image_base, pe + 24 + optional_size
    for i in range(sections):
        vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", image, table + 40 * i + 8)
        if vaddr <= rva < vaddr + max(vsize, raw_size):
            return struct.unpack_from("<Q", image, raw_ptr + rva - vaddr)[0]
    sys.exit("address 0x%x is in no section" % address)


entries, address = [], by_name["__CTOR_LIST__"] + 8  # past the -1 head
while entry_at(address):
    entries.append(by_address.get(entry_at(address), "0x%x" % entry_at(address)))
    address += 8
print("run order (last first):", *entries, sep="\n  ")
if entries[:1] != [LOADER_INIT] or len(entries) < 2:
    sys.exit("FAIL: the loader's initialiser must come first, before the runtime's own")
print("OK: %d initialisers run before the loader" % (len(entries) - 1))
