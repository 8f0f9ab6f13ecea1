#!/usr/bin/env python3
"""Checks, in the 32-bit Tarnlink.dll itself, how many argument bytes every
export pops when it returns.

A stdcall function pops its own arguments (ret $N, N = 4 bytes for each
parameter on the 32-bit stack); a cdecl one, or a stdcall one without
parameters, returns with a plain ret. From each entry of the export directory
the check follows the code: both ways of every conditional jump, unconditional
jumps and tail calls (a jump into another function, whose returns then return
for the export), and it steps over every call. Each return it reaches must pop
the bytes the export's declaration in tarnlink.h implies. A call after which
the next function begins did not return (the path ends there), so the check
needs the DLL's symbols to see where functions begin. What it cannot follow
fails the export: an indirect jump (a jump table, or a tail call through the
import table, whose callee's convention the file does not give), bytes that
decode to no instruction, a path that reaches no return at all.

usage: check_export_returns.py OBJDUMP Tarnlink.dll tarnlink.h
       check_export_returns.py --self-test OBJDUMP Tarnlink.dll tarnlink.h
The self-test runs the check on the real pair, then on copies of the DLL with
a return that one export alone reaches made to pop other bytes (a `ret $4`
made `ret $8`, a return made to pop 4 bytes fewer, and a return reached only
through the taken side of conditional jumps made to pop 4 more) and on a copy
of the header with one argument taken out of a declaration: each copy must fail
that export alone.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

USAGE = __doc__[__doc__.index("usage:"):]


# ---- The PE file: sections and the export directory ----

class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError(f"{path}: no MZ header")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        machine, nsections, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        if machine != 0x14C or struct.unpack_from("<H", d, opt)[0] != 0x10B:
            raise ValueError(f"{path}: not a 32-bit x86 image (machine 0x{machine:x})")
        self.image_base = struct.unpack_from("<I", d, opt + 28)[0]
        self.export_rva, self.export_size, self.import_rva = struct.unpack_from("<III", d, opt + 96)
        self.sections = []  # (rva, virtual size, file offset, raw size, characteristics)
        for i in range(nsections):
            s = opt + optsize + 40 * i
            vsize, rva, rawsize, rawptr = struct.unpack_from("<IIII", d, s + 8)
            self.sections.append((rva, vsize, rawptr, rawsize, struct.unpack_from("<I", d, s + 36)[0]))

    def offset(self, va):
        """File offset of the byte at address va."""
        rva = va - self.image_base
        for start, vsize, rawptr, rawsize, _ in self.sections:
            if start <= rva < start + min(vsize, rawsize):
                return rawptr + rva - start
        raise ValueError(f"0x{va:x} is in no section's bytes")

    def u32(self, va):
        return struct.unpack_from("<I", self.data, self.offset(va))[0]

    def cstring(self, va):
        o = self.offset(va)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def is_code(self, va):
        rva = va - self.image_base
        return any(start <= rva < start + vsize and flags & 0x20000000  # IMAGE_SCN_MEM_EXECUTE
                   for start, vsize, _, _, flags in self.sections)

    def exports(self):
        """{name: entry address} from the export directory."""
        base = self.image_base
        nfuncs, nnames, funcs, names, ordinals = struct.unpack_from(
            "<IIIII", self.data, self.offset(base + self.export_rva + 20))
        result = {}
        for i in range(nnames):
            name = self.cstring(base + self.u32(base + names + 4 * i))
            index = struct.unpack_from("<H", self.data, self.offset(base + ordinals + 2 * i))[0]
            if index >= nfuncs:
                raise ValueError(f"export {name}: function index {index} outside the table")
            rva = self.u32(base + funcs + 4 * index)
            if self.export_rva <= rva < self.export_rva + self.export_size:
                raise ValueError(f"export {name} is forwarded to {self.cstring(base + rva)}")
            result[name] = base + rva
        return result

    def import_slots(self):
        """{address of an import address table slot: 'dll!function'}."""
        slots, descriptor = {}, self.image_base + self.import_rva
        while self.import_rva:
            lookup, _, _, dll, first = struct.unpack_from("<IIIII", self.data, self.offset(descriptor))
            if not first:
                return slots
            dll, i = self.cstring(self.image_base + dll), 0
            while entry := self.u32(self.image_base + (lookup or first) + 4 * i):
                function = f"#{entry & 0xFFFF}" if entry & 0x80000000 else self.cstring(self.image_base + entry + 2)
                slots[self.image_base + first + 4 * i] = f"{dll}!{function}"
                i += 1
            descriptor += 20
        return slots


# ---- The declarations of tarnlink.h ----

STDCALL_WORDS = {"__stdcall", "_stdcall", "WINAPI"}
QUALIFIERS = {"const", "volatile", "register", "restrict", "__restrict"}
# Bytes on the 32-bit stack: every argument takes 4, char and short ones too,
# but for the 64-bit and floating types named here.
WIDE_TYPES = {"__int64", "int64_t", "uint64_t", "double"}
NARROW_TYPES = {"void", "char", "short", "int", "long", "signed", "unsigned", "float", "bool", "_Bool",
                "int8_t", "uint8_t", "int16_t", "uint16_t", "int32_t", "uint32_t", "size_t", "ptrdiff_t",
                "intptr_t", "uintptr_t", "wchar_t"}


def split_parameters(text):
    """The parameter list split at its own commas (not those inside parentheses)."""
    parts, depth, current = [], 0, ""
    for c in text:
        depth += (c in "([") - (c in ")]")
        if c == "," and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += c
    return parts + [current.strip()]


def parameter_bytes(param):
    """Stack bytes of one parameter; ValueError where its size is not known here."""
    if "*" in param or "[" in param or "(" in param:
        return 4  # a pointer; an array or a function parameter is passed as one
    words = [w for w in re.findall(r"[A-Za-z_]\w*", param) if w not in QUALIFIERS]
    if words[:1] == ["enum"]:
        return 4
    if words[:1] in (["struct"], ["union"], ["class"]):
        raise ValueError(f"'{param}' is passed by value: its size is not known here")
    types = [w for w in words if w in NARROW_TYPES or w in WIDE_TYPES]
    if not types or len(words) - len(types) > 1:
        raise ValueError(f"'{param}': its type is not known here")
    if "double" in types and "long" in types:
        return 12
    if types.count("long") == 2 or WIDE_TYPES & set(types):
        return 8
    return 4


def declarations(header_text):
    """{function: (stdcall?, argument bytes or the ValueError that says why not)}."""
    text = re.sub(r"/\*.*?\*/|//[^\n]*", " ", header_text, flags=re.S).replace("\\\n", " ")
    stdcall = set(STDCALL_WORDS)
    # A calling-convention macro counts with its definition for 32-bit Windows
    # (where another branch defines it empty).
    for name, value in re.findall(r"^[ \t]*#[ \t]*define[ \t]+(\w+)[ \t]+(\w+)[ \t]*$", text, flags=re.M):
        if value in stdcall:
            stdcall.add(name)
    text = re.sub(r"^[ \t]*#[^\n]*", " ", text, flags=re.M)
    found = {}
    for statement in re.split(r"[;{}]", text):
        m = re.fullmatch(r"\s*([^()]*?)\b([A-Za-z_]\w*)\s*\((.*)\)\s*", statement, flags=re.S)
        if not m or "typedef" in m.group(1).split():
            continue
        head, name, params = m.groups()
        is_stdcall = bool(stdcall & set(head.split()))
        params = split_parameters(params)
        if params in (["void"], [""]):
            params = []
        if "..." in params:
            found[name] = (False, ValueError("a stdcall function cannot take '...'")) if is_stdcall \
                else (False, 0)
            continue
        try:
            found[name] = (is_stdcall, sum(parameter_bytes(p) for p in params))
        except ValueError as e:
            found[name] = (is_stdcall, e)
    return found


# ---- The code ----

INSTRUCTION = re.compile(r"\s*([0-9a-f]+):\t([0-9a-f ]+)\t(.*)$")
SYMBOL = re.compile(r"([0-9a-f]+) <.*>:$")
PREFIXES = {"rep", "repz", "repe", "repnz", "repne", "lock", "data16", "addr16", "cs", "ds", "es", "ss",
            "fs", "gs", "notrack", "bnd"}
CONDITIONAL = {"jo", "jno", "jb", "jae", "je", "jne", "jbe", "ja", "js", "jns", "jp", "jnp", "jl", "jge",
               "jle", "jg", "jcxz", "jecxz", "loop", "loope", "loopne"}
TRAPS = {"ud2", "ud1", "ud0", "int3", "hlt"}
PADDING = re.compile(r"(nop[wl]?\b.*|xchg +%ax,%ax|lea +0x0\((%\w+)(,%eiz,1)?\),\2)")


class Code:
    """The DLL's instructions as objdump decodes them, and the walk of an export's code."""

    def __init__(self, objdump, dll):
        self.image = PeImage(dll)
        out = subprocess.run([objdump, "-d", "-w", dll], check=True, capture_output=True, text=True).stdout
        self.instructions, self.function_starts = {}, set()  # address: (mnemonic, operands, next address)
        for line in out.splitlines():
            m = INSTRUCTION.match(line)
            if m:
                words = m.group(3).split() or ["(bad)"]
                while len(words) > 1 and words[0] in PREFIXES:
                    words.pop(0)
                address = int(m.group(1), 16)
                self.instructions[address] = (words[0], " ".join(words[1:]), address + len(m.group(2).split()))
            elif m := SYMBOL.match(line):
                self.function_starts.add(int(m.group(1), 16))
        self.imports = self.image.import_slots()

    def walk(self, entry):
        """Follows the code from entry: ([(address, bytes popped)], [problems], paths that end without
        returning (after a call that does not return, or at a trap))."""
        returns, problems, ends = [], [], 0
        todo, seen = [entry], set()
        while todo:
            address, after_call = todo.pop(), False
            while address not in seen:
                seen.add(address)
                if address not in self.instructions:
                    problems.append(f"0x{address:x} is not the start of an instruction")
                    break
                op, args, following = self.instructions[address]
                if after_call and address in self.function_starts:
                    ends += 1  # the call before it did not return
                    break
                if op == "ret":
                    if args and not re.fullmatch(r"\$0x[0-9a-f]+", args):
                        problems.append(f"0x{address:x}: ret {args}")
                    else:
                        returns.append((address, int(args[1:], 16) if args else 0))
                    break
                if op in CONDITIONAL or op == "jmp":
                    if args.startswith("*"):
                        slot = re.fullmatch(r"\*0x([0-9a-f]+)", args)
                        callee = slot and self.imports.get(int(slot.group(1), 16))
                        problems.append(f"0x{address:x}: tail call into {callee}, whose convention this file "
                                        "does not give" if callee else
                                        f"0x{address:x}: indirect jump 'jmp {args}', not followed")
                        break
                    target = int(args.split()[0], 16)
                    if not self.image.is_code(target):
                        problems.append(f"0x{address:x}: {op} to 0x{target:x}, outside the code")
                        break
                    todo.append(target)
                    if op == "jmp":
                        break
                elif op in TRAPS:
                    ends += 1
                    break
                elif op in ("lret", "iret", "iretd", "lcall", "int", "into", "sysenter", "syscall", "(bad)") or \
                        op.startswith(("ret", "j", "loop")):  # a far or unknown kind of jump or return
                    problems.append(f"0x{address:x}: {op} {args}".rstrip())
                    break
                # Padding after a call still leads to the next function's start.
                after_call = op == "call" or (after_call and bool(PADDING.fullmatch(f"{op} {args}".rstrip())))
                address = following
        return returns, problems, ends


# ---- The check ----

def check(objdump, dll, header, code=None):
    """[(export, passed, line)] for every export of dll, in name order."""
    code = code or Code(objdump, dll)
    with open(header, encoding="utf-8") as f:
        declared = declarations(f.read())
    results = []
    for name, entry in sorted(code.image.exports().items()):
        decorated = re.fullmatch(r"_(\w+)@(\d+)", name)
        function = decorated.group(1) if decorated else name
        stdcall, size = declared.get(function, (False, ValueError(f"no declaration of {function} in the header")))
        if isinstance(size, ValueError):
            results.append((name, False, f"{name}: {size}"))
            continue
        expected = size if stdcall else 0
        returns, problems, ends = code.walk(entry)
        if entry not in code.function_starts:
            problems.append("no symbol at its entry (the check needs the DLL's symbols)")
        if decorated and int(decorated.group(2)) != expected:
            problems.append(f"its name says @{decorated.group(2)}")
        if not returns and not problems:
            problems.append("no return reached")
        wrong = [f"ret at 0x{a:x} pops {n}" for a, n in returns if n != expected]
        declaration = f"stdcall, {size} argument bytes" if stdcall else "cdecl"
        line = f"{name} ({declaration}): "
        if wrong or problems:
            results.append((name, False, line + f"must pop {expected}; " + "; ".join(wrong + problems)))
        else:
            noreturn = f", {ends} path{'s' * (ends > 1)} end{'s' * (ends == 1)} without returning" if ends else ""
            results.append((name, True, line + f"{len(returns)} returns, each pops {expected}{noreturn}"))
    return results


def report(results):
    for _, passed, line in results:
        print(("ok: " if passed else "FAILED: ") + line)
    failed = sum(not passed for _, passed, _ in results)
    print(f"{len(results) - failed} passed, {failed} failed")
    return failed


def returns_behind_taken_jumps(code):
    """The addresses of the `ret $N` that only the taken side of conditional
    jumps leads to: the run of instructions that ends in it is entered by no
    instruction before it (that one returns or jumps, padding aside) and by no
    unconditional jump, only by conditional ones. Read from the instructions
    alone, not by the walk."""
    into, jumps = {}, {}  # address: the instruction that runs into it; the kinds of jump to it
    for address, (op, args, following) in code.instructions.items():
        into[following] = address
        if (op in CONDITIONAL or op == "jmp") and re.fullmatch(r"[0-9a-f]+( <.*>)?", args):
            jumps.setdefault(int(args.split()[0], 16), set()).add(op in CONDITIONAL)
    ends = {"ret", "jmp"} | TRAPS
    found = set()
    for address, (op, args, _) in code.instructions.items():
        if op != "ret" or not args:
            continue
        kinds, run = set(), address
        while run is not None:
            kinds |= jumps.get(run, set())
            before = run = into.get(run)
            while before is not None and PADDING.fullmatch(" ".join(code.instructions[before][:2]).rstrip()):
                before = into.get(before)
            if before is None or code.instructions[before][0] in ends:
                break
        if kinds == {True}:
            found.add(address)
    return found


def self_test(objdump, dll, header):
    """The check passes the real pair and fails each broken copy on the export broken, and only it."""
    outcomes = []

    def expect(what, condition):
        print(("ok: " if condition else "FAILED: ") + what)
        outcomes.append(bool(condition))
        return bool(condition)

    def failing(results):
        for _, _, line in (r for r in results if not r[1]):
            print("    FAILED: " + line)
        return [name for name, passed, _ in results if not passed]

    code = Code(objdump, dll)
    real = check(objdump, dll, header, code)
    expect(f"the real pair: {sum(p for _, p, _ in real)} of {len(real)} exports pass", all(p for _, p, _ in real))
    with open(header, encoding="utf-8") as f:
        header_text = f.read()
    with tempfile.TemporaryDirectory() as scratch:
        # (a) A return that one export alone reaches made to pop 4 bytes more
        # than declared, one made to pop 4 fewer, and one reached only through
        # the taken side of conditional jumps made to pop 4 more.
        reached = {name: dict(code.walk(entry)[0]) for name, entry in sorted(code.image.exports().items())}
        sole = [(name, a, n) for name, rets in reached.items() for a, n in sorted(rets.items())
                if not any(a in r for other, r in reached.items() if other != name)]
        behind_taken = returns_behind_taken_jumps(code)
        behind = [c for c in sole if c[1] in behind_taken]
        for what, candidates, change in (("4 bytes more", [c for c in sole if c[2] == 4], 4),
                                         ("4 bytes fewer", [c for c in sole if c[2] >= 8], -4),
                                         ("4 bytes more behind a taken conditional jump", behind, 4)):
            if not expect(f"a return to pop {what} is found", candidates):
                continue
            victim, at, pops = candidates[0]
            data = bytearray(code.image.data)
            offset = code.image.offset(at)
            expect(f"{victim} returns with C2 {pops:02X} 00 at 0x{at:x}",
                   data[offset:offset + 3] == bytes([0xC2, pops, 0]))
            data[offset + 1] = pops + change
            broken_dll = os.path.join(scratch, "Tarnlink.dll")
            with open(broken_dll, "wb") as f:
                f.write(data)
            print(f"  the DLL with ret ${pops + change} at 0x{at:x}:")
            expect(f"the check fails {victim} alone", failing(check(objdump, broken_dll, header)) == [victim])

        # (b) The last parameter taken out of a stdcall declaration with more than one.
        declared = declarations(header_text)
        victim = next(name for name, (stdcall, size) in sorted(declared.items())
                      if name in code.image.exports() and stdcall and isinstance(size, int) and size > 4)
        m = re.search(r"\b" + victim + r"\s*\(([^)]*),([^,)]*)\)\s*;", header_text)
        broken_header = os.path.join(scratch, "tarnlink.h")
        with open(broken_header, "w", encoding="utf-8") as f:
            f.write(header_text[:m.end(1)] + ");" + header_text[m.end():])
        print(f"  the header without {victim}'s parameter '{m.group(2).strip()}':")
        expect(f"the check fails {victim} alone", failing(check(objdump, dll, broken_header, code)) == [victim])
    print(f"{sum(outcomes)} passed, {len(outcomes) - sum(outcomes)} failed")
    return all(outcomes)


def main(argv):
    if argv[:1] == ["--self-test"] and len(argv) == 4:
        return 0 if self_test(*argv[1:]) else 1
    if len(argv) != 3:
        print(USAGE, file=sys.stderr)
        return 2
    return 1 if report(check(*argv)) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
