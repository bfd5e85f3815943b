#!/usr/bin/env python3
"""Makes a delay-load import library from a mingw-w64 import library.

Every function the import library offers is listed in a .def file (the
decorated names, as nm shows them), dlltool turns it into a delay-load
library, and the members' import sections are renamed: with binutils 2.40
the library keeps its address table in .idata$5, which the loader zeroes, so
the first call would jump to address 0. Renamed to .didat$N, the tables go to
a section of their own (cmake/delay_load.ld keeps it whole), the address
table keeps the helper thunks and the DLL loads on the first call.

Usage: make_delay_lib.py --dll NAME --implib libNAME.a --out libNAME_delay.a
                         --nm NM --dlltool DLLTOOL --objcopy OBJCOPY
"""
import argparse
import os
import subprocess
import sys
import tempfile

RENAMED_SECTIONS = (2, 4, 5, 6, 7)


def exported_functions(nm, implib):
    """The decorated names of the functions in an import library (data
    imports have no thunk and cannot be delay-loaded)."""
    out = subprocess.run([nm, implib], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] == "T" and parts[2].startswith("_"):
            names.add(parts[2][1:])  # i686 symbols carry one leading underscore
    return sorted(names)


def def_text(dll, functions):
    return f"LIBRARY {dll}.dll\nEXPORTS\n" + "".join(f"  {name}\n" for name in functions)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--dll", "--implib", "--out", "--nm", "--dlltool", "--objcopy"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    functions = exported_functions(args.nm, args.implib)
    if not functions:
        print(f"make_delay_lib: {args.implib} lists no functions", file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory() as work:
        definition = os.path.join(work, f"{args.dll}.def")
        with open(definition, "w") as f:
            f.write(def_text(args.dll, functions))
        raw = os.path.join(work, f"lib{args.dll}_raw.a")
        # -k: the import names lose their @N; the symbols keep it.
        subprocess.run([args.dlltool, "-k", "--input-def", definition, "--output-delaylib", raw], check=True)
        renames = []
        for n in RENAMED_SECTIONS:
            renames += ["--rename-section", f".idata${n}=.didat${n}"]
        # objcopy rewrites every member of the archive and keeps their order.
        subprocess.run([args.objcopy, *renames, raw, args.out], check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
