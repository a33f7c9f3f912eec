#!/usr/bin/python3
"""Windows' Control Flow Guard rule, checked on a built image.

For an image with the GUARD_CF bit, Windows lets an indirect call (from any
guarded code in the process: the system's DLLs included) reach only the
addresses of the image's GuardCFFunctionTable; any other target ends the
process (0xC0000409). This collects every code address of IMAGE that
anything could call through a pointer:

- base-relocated pointers that land in code (vtables, callback tables, TLS
  callback arrays, the C runtime's initialiser and terminator tables; on x86
  also relocated immediates inside code);
- code addresses taken by RIP-relative lea (x64) or by adrp+add and adr
  (ARM64);
- the exports, the entry point and the TLS callbacks;

and fails, naming them, if any that is a function start is not in the
table. Not function starts: jump tables and their labels (the entries of a
table that an indirect jmp/br indexes, the table itself, or the base label
that the jump adds an offset to),
addresses inside a function's unwind range other than its start, and the
defaults of the two guard pointers, which the loader replaces and which are
reached by a direct call through the pointer, never through the check.

    guard_targets.py IMAGE
"""
import bisect
import re
import struct
import subprocess
import sys

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
    stride = 4 + (config["flags"] >> 28)
    start = image.rva(config["table"])
    return {image.pe.get_dword_at_rva(start + i * stride) for i in range(config["count"])}


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
# How far after an address is taken an indirect jump marks it as the base of a
# jump table (the instructions that add the scaled entry come between).
JUMP_TABLE_WINDOW = 8


def taken_in_code(image, instructions):
    """(target RVA, what took it) of code addresses taken by instructions,
    and the RVAs of relocated slots that are x86 jump-table entries."""
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
        # A base label that an indirect jump close after adds its offset to.
        following = instructions[index + 1 : index + 1 + JUMP_TABLE_WINDOW]
        if any(m == "br" or (m.startswith("jmp") and o.startswith("*%")) for _, m, o in following):
            continue
        taken.append((target, f"{mnemonic} at {rva:#x}"))
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


PUBLIC = re.compile(r"`(.*)`$")
ADDRESS = re.compile(r"addr = (\d+):(\d+)")


def pdb_names(image, path):
    """Public symbol names by RVA, from NAME.pdb beside IMAGE if there is one."""
    pdb = re.sub(r"\.(dll|exe)$", ".pdb", path)
    try:
        text = subprocess.run(
            ["llvm-pdbutil-16", "dump", "--publics", pdb], check=True, capture_output=True, text=True
        ).stdout
    except (OSError, subprocess.CalledProcessError):
        return {}
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


def main(path):
    image = Image(path)
    config = load_config(image)
    guarded = image.pe.OPTIONAL_HEADER.DllCharacteristics & 0x4000
    if not guarded:
        print(f"{path}: no GUARD_CF bit: every address is a valid target")
        return 0
    if config is None or not config["count"]:
        print(f"FAIL: {path} has the GUARD_CF bit but no guard function table")
        return 1
    table = guard_table(image, config)
    instructions, names = disassembly(path)

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
    candidates += taken
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
    ranges = unwind_ranges(image)
    starts = {begin for begin, _ in ranges}

    def interior(rva):
        return rva not in starts and any(begin < rva < end for begin, end in ranges)

    missing = {}
    targets = set()
    for target, origin in candidates:
        if not image.in_code(target) or interior(target):
            continue
        targets.add(target)
        if target not in table:
            missing.setdefault(target, origin)

    print(
        f"{path}: {len(targets)} code addresses that can be called indirectly, "
        f"{len(table)} valid targets in the table, {len(missing)} missing"
    )
    publics = pdb_names(image, path) if missing else {}
    for target, origin in sorted(missing.items()):
        name = publics.get(target) or names.get(target + image.base, "")
        print(f"  missing {target:#x} {name} ({origin})")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
