#!/usr/bin/python3
"""Windows' Control Flow Guard rule, checked on a built image.

For an image with the GUARD_CF bit, Windows lets an indirect call (from any
guarded code in the process: the system's DLLs included) reach only the
addresses that the image's GuardCFFunctionTable makes valid; any other
target ends the process (0xC0000409). Windows keeps them as a bitmap of
16-byte slots: an entry at a 16-aligned address makes that address valid,
an entry elsewhere makes every address of its slot valid, and an entry
flagged FID_SUPPRESSED makes nothing valid. By that rule:

- the dispatch pointer's default (an indirect jump to any address) must not
  be a valid target;

- and every code address of IMAGE that anything could call through a
  pointer must be, which are:

- base-relocated pointers that land in code (vtables, callback tables, TLS
  callback arrays, the C runtime's initialiser and terminator tables; on x86
  also relocated immediates inside code);
- code addresses taken by RIP-relative lea (x64) or by adrp+add and adr
  (ARM64);
- the exports, the entry point and the TLS callbacks;

and fails, naming them, if any that is a function start is not valid.
Not function starts: jump tables and their labels (the entries of a table
that an indirect jmp/br indexes, the table itself, or the base label that
the jump adds an offset to: a label inside the function that takes it,
whose register the jump's is computed from), addresses inside a function's
unwind range other than its start, and the defaults of the two guard
pointers, which the loader replaces and which are reached by a direct call
through the pointer, never through the check.

    guard_targets.py IMAGE
    guard_targets.py --tail-call-target-removed IMAGE

The second form checks the check: it removes from the table of a copy of
IMAGE a function whose address is taken just before an indirect jump (a
guarded tail call's), and fails unless the check of the copy fails naming
that function.
"""
import bisect
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

import pefile

EXECUTE = 0x20000000  # IMAGE_SCN_MEM_EXECUTE
I386, AMD64, ARM64 = 0x14C, 0x8664, 0xAA64
# Offsets of the guard fields in IMAGE_LOAD_CONFIG_DIRECTORY32/64.
LOAD_CONFIG = {
    False: dict(check=72, dispatch=76, table=80, count=84, flags=88, width=4),
    True: dict(check=112, dispatch=120, table=128, count=136, flags=144, width=8),
}


class Image:
    def __init__(self, path):
        self.pe = pefile.PE(path)
        self.machine = self.pe.FILE_HEADER.Machine
        self.wide = self.machine != I386
        self.base = self.pe.OPTIONAL_HEADER.ImageBase
        self.code = [
            (s.VirtualAddress, s.VirtualAddress + max(s.Misc_VirtualSize, s.SizeOfRawData))
            for s in self.pe.sections
            if s.Characteristics & EXECUTE
        ]
        self.sections = {
            s.Name.rstrip(b"\0").decode(errors="replace"): (s.VirtualAddress, s.VirtualAddress + s.Misc_VirtualSize)
            for s in self.pe.sections
        }

    def in_code(self, rva):
        return any(start <= rva < end for start, end in self.code)

    def section_of(self, rva):
        for name, (start, end) in self.sections.items():
            if start <= rva < end:
                return name
        return "?"

    def pointer(self, rva):
        return self.pe.get_qword_at_rva(rva) if self.wide else self.pe.get_dword_at_rva(rva)

    def rva(self, va):
        return va - self.base


def load_config(image):
    entry = image.pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]]
    if not entry.VirtualAddress:
        return None
    fields = LOAD_CONFIG[image.wide]
    at = entry.VirtualAddress
    read = image.pointer
    size = image.pe.get_dword_at_rva(at)
    if size < fields["flags"] + 4:
        return None
    return dict(
        check=read(at + fields["check"]),
        dispatch=read(at + fields["dispatch"]),
        table=read(at + fields["table"]),
        count=read(at + fields["count"]),
        flags=image.pe.get_dword_at_rva(at + fields["flags"]),
    )


def guard_table(image, config):
    """RVA -> flags byte (0 when the table has none) of each entry."""
    stride = 4 + (config["flags"] >> 28)
    start = image.rva(config["table"])
    table = {}
    for i in range(config["count"]):
        entry = start + i * stride
        flags = image.pe.get_data(entry + 4, 1)[0] if stride > 4 else 0
        table[image.pe.get_dword_at_rva(entry)] = flags
    return table


FID_SUPPRESSED = 0x01  # IMAGE_GUARD_FLAG_FID_SUPPRESSED
SLOT = 16


class Bitmap:
    """Windows' bitmap of valid call targets, from the table's entries."""

    def __init__(self, table):
        self.aligned, self.slots = set(), {}
        for rva, flags in table.items():
            if flags & FID_SUPPRESSED:
                continue
            if rva % SLOT:
                self.slots.setdefault(rva // SLOT, []).append(rva)
            else:
                self.aligned.add(rva)

    def valid(self, rva):
        return rva in self.aligned or rva // SLOT in self.slots

    def why(self, rva):
        if rva in self.aligned:
            return "in the table"
        entries = ", ".join(f"{entry:#x}" for entry in self.slots.get(rva // SLOT, []))
        return f"in the 16-byte slot of the unaligned table entries {entries}"


def relocations(image):
    """(slot RVA, target RVA) of every absolute base relocation."""
    for block in getattr(image.pe, "DIRECTORY_ENTRY_BASERELOC", []):
        for entry in block.entries:
            if entry.type in (3, 10):  # HIGHLOW, DIR64
                yield entry.rva, image.rva(image.pointer(entry.rva))


def frame_starts(image):
    """The slots of the FDEs' initial locations in .eh_frame (DWARF unwind
    tables, x86): they name the code that a record describes, which the
    unwinder looks up but never calls. (The CIEs' personality routines,
    which it does call, stay.)"""
    slots = set()
    for section in image.pe.sections:
        if not section.Name.startswith(b".eh_fram"):
            continue
        data = section.get_data()[: section.Misc_VirtualSize]
        offset = 0
        while offset + 8 <= len(data):
            length, cie_pointer = struct.unpack_from("<II", data, offset)
            if length == 0 or length == 0xFFFFFFFF:
                break
            if cie_pointer != 0:
                slots.add(section.VirtualAddress + offset + 8)
            offset += 4 + length
    return slots


def unwind_ranges(image):
    """(begin, end) RVAs of the functions that .pdata describes."""
    entry = image.pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXCEPTION"]]
    ranges = []
    if not entry.VirtualAddress or image.machine == I386:
        return ranges
    data = image.pe.get_data(entry.VirtualAddress, entry.Size)
    if image.machine == AMD64:
        for begin, end, _ in struct.iter_unpack("<III", data[: len(data) // 12 * 12]):
            ranges.append((begin, end))
    else:
        for begin, info in struct.iter_unpack("<II", data[: len(data) // 8 * 8]):
            if info & 3:  # packed: the length in instructions, bits 2-12
                ranges.append((begin, begin + ((info >> 2) & 0x7FF) * 4))
            else:
                xdata = image.pe.get_dword_at_rva(info)
                ranges.append((begin, begin + (xdata & 0x3FFFF) * 4))
    return ranges


INSTRUCTION = re.compile(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$")
LABEL = re.compile(r"^([0-9a-f]+) <(.*)>:$")


def disassembly(path):
    """(address, mnemonic, operands) of every instruction, and the symbol names."""
    text = subprocess.run(
        ["llvm-objdump-16", "-d", "--no-show-raw-insn", "--no-leading-headers", path],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    instructions, names = [], {}
    for line in text.splitlines():
        label = LABEL.match(line)
        if label:
            names[int(label.group(1), 16)] = label.group(2)
            continue
        match = INSTRUCTION.match(line)
        if match:
            instructions.append((int(match.group(1), 16), match.group(2), match.group(3)))
    return instructions, names


HEX = re.compile(r"0x([0-9a-f]+)")
# How close before an indirect jump an address taken counts as taken for a
# tail call (--tail-call-target-removed): a guarded tail call loads the
# dispatch pointer, stores its arguments, then jumps through a register.
TAIL_CALL_WINDOW = 8


def indirect_jump(mnemonic, operands):
    return mnemonic == "br" or (mnemonic.startswith("jmp") and operands.startswith("*"))


# x64 registers by the full register they are part of.
X64_REGISTERS = {}
for _r in "abcd":
    X64_REGISTERS.update({name: _r for name in (f"r{_r}x", f"e{_r}x", f"{_r}x", f"{_r}l", f"{_r}h")})
for _r in ("si", "di", "bp", "sp"):
    X64_REGISTERS.update({name: _r for name in (f"r{_r}", f"e{_r}", _r, f"{_r}l")})
for _r in range(8, 16):
    X64_REGISTERS.update({name: f"r{_r}" for name in (f"r{_r}", f"r{_r}d", f"r{_r}w", f"r{_r}b")})
OPERAND = re.compile(r"(?:[^,(\[]|\([^)]*\)|\[[^\]]*\])+")


def register_use(image, mnemonic, operands):
    """(the register an instruction writes or None, the registers it reads)."""
    operands = operands.split("//")[0].split("#")[0] if image.machine != ARM64 else operands.split("//")[0]
    parts = [part.strip() for part in OPERAND.findall(operands)]
    if image.machine == ARM64:
        names = lambda text: set(re.findall(r"\b[xw](\d+)\b", text))
        written = names(parts[0]) if parts and re.fullmatch(r"[xw]\d+", parts[0]) else set()
        read = set().union(*(names(part) for part in parts[1:])) if len(parts) > 1 else set()
        store = re.match(r"(st|b$|b\.|bl|br|cb|tb|cmp|cmn|tst|ret|nop|prfm)", mnemonic) is not None
    else:
        names = lambda text: {X64_REGISTERS[n] for n in re.findall(r"%(\w+)", text) if n in X64_REGISTERS}
        written = names(parts[-1]) if parts and re.fullmatch(r"%\w+", parts[-1]) else set()
        read = set().union(*(names(part) for part in parts[:-1])) if len(parts) > 1 else set()
        if not mnemonic.startswith(("mov", "lea")):
            read |= written  # arithmetic reads its destination too
        store = mnemonic.startswith(("cmp", "test", "push", "j", "call"))
    if store or not written:
        return None, read | written
    return next(iter(written)), read


def jump_computed_from(image, destination, following):
    """Whether an indirect jump among FOLLOWING jumps through a register
    computed from DESTINATION (a table base, plus the entry it reads)."""
    derived = {destination}
    for _, mnemonic, operands in following:
        if indirect_jump(mnemonic, operands):
            return bool(register_use(image, "jmp", operands.lstrip("*"))[1] & derived)
        written, read = register_use(image, mnemonic, operands)
        if written is None:
            continue
        if read & derived:
            derived.add(written)
        else:
            derived.discard(written)
    return False


def taken_in_code(image, instructions):
    """(target RVA, what took it, whether an indirect jump follows closely,
    whether that jump goes through a register computed from the address) of
    code addresses taken by instructions, and the RVAs of relocated slots
    that are x86 jump-table entries."""
    taken, table_bases = [], set()
    pages = {}
    for index, (address, mnemonic, operands) in enumerate(instructions):
        rva = image.rva(address)
        target = None
        if image.machine == AMD64 and mnemonic.startswith("lea") and "(%rip)" in operands:
            comment = operands.split("#")[-1]
            found = HEX.search(comment)
            target = image.rva(int(found.group(1), 16)) if found else None
        elif image.machine == ARM64:
            registers = [part.strip() for part in operands.split(",")]
            destination = registers[0] if registers else ""
            if mnemonic == "adrp":
                pages[destination] = int(HEX.search(operands).group(1), 16)
                continue
            if mnemonic == "adr":
                target = image.rva(int(HEX.search(operands).group(1), 16))
            elif mnemonic == "add" and len(registers) == 3 and registers[1] in pages and registers[2].startswith("#"):
                target = image.rva(pages[registers[1]] + int(registers[2][1:], 0))
            pages.pop(destination, None)
        elif image.machine == I386 and mnemonic.startswith("jmp") and re.search(r"\*0x[0-9a-f]+\(,%e\w\w,4\)", operands):
            table_bases.add(image.rva(int(HEX.search(operands).group(1), 16)))
        if target is None or not image.in_code(target):
            continue
        following = instructions[index + 1 : index + 1 + TAIL_CALL_WINDOW]
        before_jump = any(indirect_jump(m, o) for _, m, o in following)
        destination = register_use(image, mnemonic, operands)[0]
        from_it = destination is not None and jump_computed_from(image, destination, following)
        taken.append((target, f"{mnemonic} at {rva:#x}", before_jump, from_it, rva))
    return taken, table_bases


def jump_table_slots(image, table_bases, relocated):
    """The relocated slots of x86 jump tables: the run of relocated code
    pointers from each base that an indirect jmp indexes."""
    slots = set()
    width = 4
    for base in table_bases:
        slot = base
        while slot in relocated and image.in_code(relocated[slot]):
            slots.add(slot)
            slot += width
            if slot in table_bases:
                break
    return slots


PROCEDURE = re.compile(r"addr = (\d+):(\d+), code size = (\d+)")


def beside(path, extension):
    return re.sub(r"\.(dll|exe)$", extension, path)


def pdb_dump(path, what):
    """llvm-pdbutil's dump of WHAT from NAME.pdb beside IMAGE ("" without one)."""
    try:
        return subprocess.run(
            ["llvm-pdbutil-16", "dump", what, beside(path, ".pdb")], check=True, capture_output=True, text=True
        ).stdout
    except (OSError, subprocess.CalledProcessError):
        return ""


def pdb_procedures(image, path):
    """(begin, end) RVAs of the functions that NAME.pdb beside IMAGE
    describes (those compiled with debug information), if there is one."""
    text = pdb_dump(path, "--symbols")
    sections = [s.VirtualAddress for s in image.pe.sections]
    ranges = []
    for section, offset, size in PROCEDURE.findall(text):
        section, offset, size = int(section), int(offset), int(size)
        if 0 < section <= len(sections):
            ranges.append((sections[section - 1] + offset, sections[section - 1] + offset + size))
    return ranges


PUBLIC = re.compile(r"`(.*)`$")
ADDRESS = re.compile(r"addr = (\d+):(\d+)")


def pdb_names(image, path):
    """Public symbol names by RVA, from NAME.pdb beside IMAGE if there is one."""
    text = pdb_dump(path, "--publics")
    names, name = {}, None
    sections = [s.VirtualAddress for s in image.pe.sections]
    for line in text.splitlines():
        found = PUBLIC.search(line)
        if found:
            name = found.group(1)
            continue
        found = ADDRESS.search(line)
        if found and name:
            section, offset = int(found.group(1)), int(found.group(2))
            if 0 < section <= len(sections):
                names.setdefault(sections[section - 1] + offset, name)
            name = None
    return names


def check(path):
    """0 when IMAGE keeps Windows' rule; 1 and the faults printed otherwise;
    and the RVAs found missing."""
    image = Image(path)
    config = load_config(image)
    guarded = image.pe.OPTIONAL_HEADER.DllCharacteristics & 0x4000
    if not guarded:
        print(f"{path}: no GUARD_CF bit: every address is a valid target")
        return 0, {}
    if config is None or not config["count"]:
        print(f"FAIL: {path} has the GUARD_CF bit but no guard function table")
        return 1, {}
    table = guard_table(image, config)
    bitmap = Bitmap(table)
    instructions, names = disassembly(path)
    faults = 0
    if config["dispatch"]:
        jump = image.rva(image.pointer(image.rva(config["dispatch"])))
        if bitmap.valid(jump):
            print(f"FAIL: the dispatch default at {jump:#x}, an indirect jump, is a valid target: {bitmap.why(jump)}")
            faults += 1

    # The guard pointers' defaults: replaced by the loader, never checked.
    exempt = set()
    for field in ("check", "dispatch"):
        if config[field]:
            exempt.add(image.rva(config[field]))

    relocated = dict(relocations(image))
    taken, table_bases = taken_in_code(image, instructions)
    jump_slots = jump_table_slots(image, table_bases, relocated) | frame_starts(image)

    # A relocated field inside code is an address taken only when it is an
    # immediate ($address); as an instruction's memory operand it is data
    # read or written there (constants that assembly keeps beside its code).
    starts = [image.rva(address) for address, _, _ in instructions]
    operands = {image.rva(address): text for address, _, text in instructions}

    def memory_operand(slot, target):
        index = bisect.bisect_right(starts, slot) - 1
        if index < 0:
            return False
        text = operands[starts[index]]
        return f"{target + image.base:#x}" in text and f"${target + image.base:#x}" not in text

    candidates = []  # (target RVA, where from)
    for slot, target in relocated.items():
        if image.in_code(slot) and memory_operand(slot, target):
            continue
        # (A jump table that the compiler put in a code section is data: its
        # address, in the indirect jmp, is not a call target.)
        if slot in exempt or slot in jump_slots or target in table_bases or not image.in_code(target):
            continue
        candidates.append((target, f"pointer in {image.section_of(slot)} at {slot:#x}"))
    # A jump-table base label: inside the function that takes it (its unwind
    # range, or its extent in the PDB; the table may follow its last
    # instruction), never a function start, and what the jump goes through is
    # computed from it.
    ranges = unwind_ranges(image)
    bases = [entry for entry in taken if entry[3]]
    if bases:
        functions = ranges + pdb_procedures(image, path)
        function_starts = {begin for begin, _ in functions}

        def table_base(target, taker):
            return target not in function_starts and any(
                begin <= taker < end and begin < target <= (end + 3) & ~3 for begin, end in functions
            )

        taken = [entry for entry in taken if not (entry[3] and table_base(entry[0], entry[4]))]
    candidates += [(target, origin) for target, origin, *_ in taken]
    for export in getattr(getattr(image.pe, "DIRECTORY_ENTRY_EXPORT", None), "symbols", []):
        if export.address and not export.forwarder:
            candidates.append((export.address, f"export {export.name.decode() if export.name else export.ordinal}"))
    if image.pe.OPTIONAL_HEADER.AddressOfEntryPoint:
        candidates.append((image.pe.OPTIONAL_HEADER.AddressOfEntryPoint, "entry point"))
    tls = getattr(image.pe, "DIRECTORY_ENTRY_TLS", None)
    if tls and tls.struct.AddressOfCallBacks:
        slot = image.rva(tls.struct.AddressOfCallBacks)
        while image.pointer(slot):
            candidates.append((image.rva(image.pointer(slot)), "TLS callback"))
            slot += 8 if image.wide else 4

    # Inside a function's unwind range, past its start: not a function start.
    starts = {begin for begin, _ in ranges}

    def interior(rva):
        return rva not in starts and any(begin < rva < end for begin, end in ranges)

    missing = {}
    targets = set()
    for target, origin in candidates:
        if not image.in_code(target) or interior(target):
            continue
        targets.add(target)
        if not bitmap.valid(target):
            missing.setdefault(target, origin)

    unaligned = sum(1 for rva in table if rva % SLOT)
    print(
        f"{path}: {len(targets)} code addresses that can be called indirectly, "
        f"{len(table)} table entries ({unaligned} unaligned, each validating its 16-byte slot), "
        f"{len(missing)} not valid by Windows' bitmap"
    )
    publics = pdb_names(image, path) if missing else {}
    for target, origin in sorted(missing.items()):
        name = publics.get(target) or names.get(target + image.base, "")
        print(f"  missing {target:#x} {name} ({origin})")
    return (1 if missing or faults else 0), missing


def without_entry(path, target, copy):
    """Writes COPY: IMAGE with TARGET's entry taken out of its table."""
    image = Image(path)
    config = load_config(image)
    stride = 4 + (config["flags"] >> 28)
    start, count = image.rva(config["table"]), config["count"]
    entries = image.pe.get_data(start, count * stride)
    index = next(i for i in range(count) if struct.unpack_from("<I", entries, i * stride)[0] == target)
    kept = entries[: index * stride] + entries[(index + 1) * stride :] + bytes(stride)
    image.pe.set_bytes_at_rva(start, kept)
    at = image.pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]].VirtualAddress
    field = at + LOAD_CONFIG[image.wide]["count"]
    if image.wide:
        image.pe.set_qword_at_rva(field, count - 1)
    else:
        image.pe.set_dword_at_rva(field, count - 1)
    image.pe.write(copy)


def tail_call_target_removed(path):
    """The check fails on a copy of IMAGE whose table lacks a function whose
    address is taken just before an indirect jump."""
    image = Image(path)
    config = load_config(image)
    table = guard_table(image, config)
    starts = {begin for begin, _ in unwind_ranges(image)}
    taken, _ = taken_in_code(image, disassembly(path)[0])
    # (One that no other entry's slot makes valid.)
    chosen = next(
        (
            (target, origin)
            for target, origin, before_jump, *_ in taken
            if before_jump
            and target in starts
            and target in table
            and not Bitmap({rva: flags for rva, flags in table.items() if rva != target}).valid(target)
        ),
        None,
    )
    if chosen is None:
        print(f"FAIL: {path} takes no function's address just before an indirect jump")
        return 1
    target, origin = chosen
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, os.path.basename(path))
        without_entry(path, target, copy)
        if os.path.exists(beside(path, ".pdb")):
            shutil.copy(beside(path, ".pdb"), beside(copy, ".pdb"))
        print(f"{copy}: {target:#x} ({origin}) taken out of the table")
        status, missing = check(copy)
    if status == 0 or target not in missing:
        print(f"FAIL: the check of the copy does not name {target:#x}")
        return 1
    print(f"the check of the copy fails naming {target:#x}")
    return 0


if __name__ == "__main__":
    if sys.argv[1] == "--tail-call-target-removed":
        sys.exit(tail_call_target_removed(sys.argv[2]))
    sys.exit(check(sys.argv[1])[0])
