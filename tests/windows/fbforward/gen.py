#!/usr/bin/env python3
"""Writes the forwarding fbclient.dll's sources for the Windows pass.

    gen.py [--i386] IB_INTF_H IBASE_H LIBRARY BYHAND_C OUT_DIR

Every entry point of the program's binding table (the X(name, ...) lines of
IB_INTF_H) gets a function fwd_NAME in OUT_DIR/forward.c, declared with the
Windows x64 calling convention and calling the Linux client library's NAME with
the prototype IBASE_H gives, and a line NAME=fwd_NAME in the module definition
file OUT_DIR/fbclient.def that exports it. With --i386 the module is a 32-bit
one with the conventions of the 32-bit client for Windows: each function is
__stdcall (the variadic ones, by hand, __cdecl), and its export is a line of
Wine's export file OUT_DIR/fbclient.spec naming the convention and the
arguments ("@ stdcall NAME(ptr long) fwd_NAME", "@ varargs ..."). The entries
BYHAND_C writes by hand (its "export: NAME" comments) are exported from there;
an entry the Linux LIBRARY does not export, or IBASE_H does not declare, is left
out, as a real client of that version lacks it.
"""
import re
import subprocess
import sys

i386 = sys.argv[1:2] == ["--i386"]
ib_intf, ibase_h, library, byhand_c, out = sys.argv[1 + i386:6 + i386]

names = re.findall(r"^\s*X\((\w+),", open(ib_intf).read(), re.M)
header = re.sub(r"/\*.*?\*/", " ", open(ibase_h).read(), flags=re.S)
nm = subprocess.run(["nm", "-D", "--defined-only", library], capture_output=True, text=True,
                    check=True).stdout
exported = {line.split()[-1] for line in nm.splitlines() if line.strip()}
by_hand = re.findall(r"/\* export: (\w+) \*/", open(byhand_c).read())

# The 32-bit Linux library takes a stack aligned to 16 bytes, a Windows caller
# keeps 4: each forwarder realigns it.
FWD = ('__attribute__((stdcall, force_align_arg_pointer, visibility("default")))' if i386 else
       '__attribute__((ms_abi, visibility("default")))')
code = ["/* Written by gen.py from the program's entry-point table: do not edit. */",
        "#include <ibase.h>", "", f"#define FWD {FWD}", ""]


def prototype(name):
    m = re.search(r"([\w \*]+?)\bISC_EXPORT(_VARARG)?\s+" + name + r"\s*\(([^;]*?)\)\s*;", header)
    if not m:
        return None
    params = [p.strip() for p in " ".join(m.group(3).split()).split(",")]
    return m.group(1), bool(m.group(2)), [p for p in params if p not in ("", "void", "...")]


def spec_line(name):
    # Wine's argument types: 32-bit words here ("long"), or pointers.
    _, varargs, params = prototype(name)
    types = " ".join("ptr" if re.search(r"\*|CALLBACK|STREAM", p) else "long" for p in params)
    return f"@ {'varargs' if varargs else 'stdcall'} {name}({types}) fwd_{name}\n"


exports = []
for name in names:
    if name in by_hand:
        continue
    if name not in exported:
        print(f"gen.py: {name} is not in {library}: not exported", file=sys.stderr)
        continue
    if not prototype(name):
        # An entry of a newer client than the header: the program finds it missing.
        print(f"gen.py: no prototype of {name} in {ibase_h}: not exported", file=sys.stderr)
        continue
    result, varargs, params = prototype(name)
    if varargs:
        sys.exit(f"gen.py: {name} takes a variable argument list: write it in {byhand_c}")
    result = result.replace("FB_API_DEPRECATED", "").strip()
    for p in params + [result]:
        # Windows' long is 4 bytes, Linux's 8; function pointers and arrays are
        # not spelled "TYPE NAME": such an entry is written by hand.
        if re.search(r"\blong\b", p) or "(" in p or "[" in p:
            sys.exit(f"gen.py: {name}'s '{p}' needs a forwarder written in {byhand_c}")
    args = ", ".join(f"{p} a{i}" for i, p in enumerate(params)) or "void"
    call = ", ".join(f"a{i}" for i in range(len(params)))
    ret = "" if result == "void" else "return "
    code.append(f"FWD {result} fwd_{name}({args}) {{ {ret}{name}({call}); }}")
    exports.append(name)
# The hand-written ones, also those the table does not name (the variadic
# transaction start and parameter-block helper).
exports += by_hand

open(f"{out}/forward.c", "w").write("\n".join(code) + "\n")
if i386:
    open(f"{out}/fbclient.spec", "w").write(
        "# Written by gen.py: do not edit.\n" + "".join(spec_line(n) for n in exports))
else:
    open(f"{out}/fbclient.def", "w").write(
        "; Written by gen.py: do not edit.\nEXPORTS\n" + "".join(f"  {n}=fwd_{n}\n" for n in exports))
