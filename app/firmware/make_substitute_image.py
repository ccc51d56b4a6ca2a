#!/usr/bin/env python3
"""Writes a stand-in for the LED controller maker's application image.

The maker's binary is not available to us, so the build uses this substitute: 10,272 bytes of
Cortex-M0+ (Thumb) firmware linked at flash 0x1800, with the vector table, reset handler,
start-up data table and the erased window that the updater relies on, laid out like the real
image. The code is plausible but never meant to run on a controller. The output is the same on
every run.

Run it by hand from the repository root when the layout needs to change, and commit the result:

    python3 app/firmware/make_substitute_image.py [OUTPUT]

OUTPUT defaults to argb-controller-fw.bin beside this script. Standard library only.
"""

import pathlib
import struct
import sys

LINK_BASE = 0x1800
IMAGE_LENGTH = 10272
CODE_OFFSET = 0x00C0
STARTUP_TABLE_OFFSET = 0x2768
RAM_INIT_LENGTH = 152

RAM_BASE = 0x20000000
INITIAL_STACK_POINTER = 0x20000C10
STACK_SIZE = 0x400
ERASED_WORD = 0xFFFFFFFF
COPY_RECORD, ZERO_RECORD = 0, 1

# Flash addresses of the system handlers, as the real image has them (without the Thumb bit).
NMI_HANDLER = 0x192A
HARDFAULT_HANDLER = 0x23D8
SVCALL_HANDLER = 0x192E
PENDSV_HANDLER = 0x1930
SYSTICK_HANDLER = 0x1932
DEFAULT_HANDLER = 0x1934

# Interrupts with handlers of their own, with the register each one acknowledges, and the
# interrupts whose vector words stay erased.
OWN_IRQS = {6: 0x40070000, 17: 0x4006E000, 18: 0x4006F000, 20: 0x40048000, 31: 0x400B0000}
ERASED_IRQS = (9, 15, 16)
IRQ_COUNT = 32

# Thumb condition codes used below.
EQ, NE, HS = 0x0, 0x1, 0x2
# Register-register data operations the filler uses: ands, eors, adcs, orrs, bics, mvns.
ALU_OPS = (0x0, 0x1, 0x5, 0xC, 0xE, 0xF)


class Thumb:
    """A tiny Thumb assembler: enough instructions for a plausible image, labels and literals."""

    def __init__(self, base, size, fill):
        self.base = base
        self.mem = bytearray([fill]) * size
        self.pc = base
        self.labels = {}
        self.fixups = []

    def org(self, address):
        if address < self.pc:
            raise ValueError(f"org 0x{address:X} is behind 0x{self.pc:X}")
        while self.pc + 2 <= address:
            self.h(0xBF00)  # nop
        self.pc = address

    def label(self, name):
        self.labels[name] = self.pc

    def put(self, address, data):
        offset = address - self.base
        self.mem[offset:offset + len(data)] = data

    def h(self, halfword):
        self.put(self.pc, struct.pack("<H", halfword))
        self.pc += 2

    def word(self, value):
        self.put(self.pc, struct.pack("<I", value))
        self.pc += 4

    def align4(self):
        if self.pc % 4:
            self.h(0xBF00)

    # Instructions on low registers.
    def movs(self, rd, imm):
        self.h(0x2000 | rd << 8 | imm)

    def cmp_imm(self, rn, imm):
        self.h(0x2800 | rn << 8 | imm)

    def cmp(self, rn, rm):
        self.h(0x4280 | rm << 3 | rn)

    def adds_imm(self, rd, imm):
        self.h(0x3000 | rd << 8 | imm)

    def subs_imm(self, rd, imm):
        self.h(0x3800 | rd << 8 | imm)

    def alu(self, op, rdn, rm):
        self.h(0x4000 | op << 6 | rm << 3 | rdn)

    def lsls(self, rd, rm, imm):
        self.h(0x0000 | imm << 6 | rm << 3 | rd)

    def ldr(self, rt, rn, imm):
        self.h(0x6800 | (imm // 4) << 6 | rn << 3 | rt)

    def str_(self, rt, rn, imm):
        self.h(0x6000 | (imm // 4) << 6 | rn << 3 | rt)

    def ldrb(self, rt, rn, imm):
        self.h(0x7800 | imm << 6 | rn << 3 | rt)

    def strb(self, rt, rn, imm):
        self.h(0x7000 | imm << 6 | rn << 3 | rt)

    def ldmia(self, rn, registers):
        self.h(0xC800 | rn << 8 | sum(1 << r for r in registers))

    def push(self, registers, lr=True):
        self.h(0xB400 | (0x100 if lr else 0) | sum(1 << r for r in registers))

    def pop(self, registers, pc=True):
        self.h(0xBC00 | (0x100 if pc else 0) | sum(1 << r for r in registers))

    def bx_lr(self):
        self.h(0x4770)

    def wfi(self):
        self.h(0xBF30)

    def hang(self):
        self.h(0xE7FE)  # b .

    # Instructions with a target resolved at the end.
    def ldr_lit(self, rt, literal):
        self.fixups.append(("ldr", self.pc, rt, literal))
        self.pc += 2

    def b(self, target):
        self.fixups.append(("b", self.pc, None, target))
        self.pc += 2

    def bcond(self, cond, target):
        self.fixups.append(("bcond", self.pc, cond, target))
        self.pc += 2

    def bl(self, target):
        self.fixups.append(("bl", self.pc, None, target))
        self.pc += 4

    def resolve(self):
        for kind, at, arg, target in self.fixups:
            dest = self.labels[target]
            offset = dest - (at + 4)
            if kind == "ldr":
                distance = dest - ((at + 4) & ~3)
                if dest % 4 or not 0 <= distance < 1024:
                    raise ValueError(f"literal {target} out of reach")
                code = struct.pack("<H", 0x4800 | arg << 8 | distance // 4)
            elif kind == "b":
                if not -2048 <= offset < 2048:
                    raise ValueError(f"branch to {target} out of reach")
                code = struct.pack("<H", 0xE000 | (offset >> 1) & 0x7FF)
            elif kind == "bcond":
                if not -256 <= offset < 256:
                    raise ValueError(f"branch to {target} out of reach")
                code = struct.pack("<H", 0xD000 | arg << 8 | (offset >> 1) & 0xFF)
            else:
                imm = (offset >> 1) & 0x3FFFFF
                s = (offset >> 24) & 1
                i1, i2 = (offset >> 23) & 1, (offset >> 22) & 1
                j1, j2 = (1 - i1) ^ s, (1 - i2) ^ s
                code = struct.pack("<HH", 0xF000 | s << 10 | (imm >> 11) & 0x3FF,
                                   0xD000 | j1 << 13 | j2 << 11 | imm & 0x7FF)
            self.put(at, code)


class XorShift:
    """Deterministic filler source, so every run writes the same bytes."""

    def __init__(self, seed):
        self.state = seed

    def next(self, bound):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x % bound


def vector_table():
    system = [INITIAL_STACK_POINTER, LINK_BASE + CODE_OFFSET + 1, NMI_HANDLER + 1,
              HARDFAULT_HANDLER + 1] + [ERASED_WORD] * 7 + [SVCALL_HANDLER + 1,
              ERASED_WORD, ERASED_WORD, PENDSV_HANDLER + 1, SYSTICK_HANDLER + 1]
    interrupts = []
    for irq in range(IRQ_COUNT):
        if irq in ERASED_IRQS:
            interrupts.append(ERASED_WORD)
        elif irq in OWN_IRQS:
            interrupts.append(f"irq{irq}")
        else:
            interrupts.append(DEFAULT_HANDLER + 1)
    return system + interrupts


def reset_handler(asm, table, table_end):
    """Runs the start-up table: copy records fill RAM from flash, zero records clear it."""
    asm.label("reset")
    asm.ldr_lit(4, "lit_table")
    asm.ldr_lit(5, "lit_table_end")
    asm.label("next_record")
    asm.cmp(4, 5)
    asm.bcond(HS, "records_done")
    asm.ldmia(4, [0, 1, 2, 3])  # source, destination, byte count, kind
    asm.cmp_imm(3, COPY_RECORD)
    asm.bcond(NE, "zero_fill")
    asm.label("copy_loop")
    asm.cmp_imm(2, 0)
    asm.bcond(EQ, "next_record")
    asm.ldrb(3, 0, 0)
    asm.strb(3, 1, 0)
    asm.adds_imm(0, 1)
    asm.adds_imm(1, 1)
    asm.subs_imm(2, 1)
    asm.b("copy_loop")
    asm.label("zero_fill")
    asm.movs(3, 0)
    asm.label("zero_loop")
    asm.cmp_imm(2, 0)
    asm.bcond(EQ, "next_record")
    asm.strb(3, 1, 0)
    asm.adds_imm(1, 1)
    asm.subs_imm(2, 1)
    asm.b("zero_loop")
    asm.label("records_done")
    asm.bl("main")
    asm.hang()
    asm.align4()
    asm.label("lit_table")
    asm.word(table)
    asm.label("lit_table_end")
    asm.word(table_end)


def fault_handlers(asm):
    for address in (NMI_HANDLER, SVCALL_HANDLER, PENDSV_HANDLER, SYSTICK_HANDLER,
                    DEFAULT_HANDLER):
        asm.org(address)
        asm.hang()


def version_reply(asm):
    """Fills the 8-byte answer to register 0x81: 81 00 00 00 40 70 00 09 (version 40.70.00.09)."""
    asm.label("version_reply")
    asm.movs(1, 0x81)
    asm.strb(1, 0, 0)
    asm.movs(1, 0)
    for offset in (1, 2, 3, 6):
        asm.strb(1, 0, offset)
    for offset, value in ((4, 0x40), (5, 0x70), (7, 0x09)):
        asm.movs(1, value)
        asm.strb(1, 0, offset)
    asm.bx_lr()


def irq_handler(asm, irq, status_register, flags):
    """Clears the peripheral's status (write one to clear) and raises the interrupt's RAM flag."""
    asm.align4()
    asm.label(f"irq{irq}")
    asm.ldr_lit(0, f"irq{irq}_status")
    asm.ldr(1, 0, 0)
    asm.str_(1, 0, 0)
    asm.ldr_lit(2, f"irq{irq}_flags")
    asm.movs(3, 1)
    asm.strb(3, 2, irq % 32)
    asm.bx_lr()
    asm.align4()
    asm.label(f"irq{irq}_status")
    asm.word(status_register)
    asm.label(f"irq{irq}_flags")
    asm.word(flags)


def main_loop(asm, workers):
    asm.align4()
    asm.label("main")
    asm.push([4])
    for name in workers[:4]:
        asm.bl(name)
    asm.label("main_loop")
    asm.wfi()
    for name in workers[4:8]:
        asm.bl(name)
    asm.b("main_loop")


# Workers address the initialised RAM through a base register within its first 8 words, so every
# offset they use stays inside it.
WORKER_BASE_WORDS = 8


def worker(asm, name, rng, callees, ram_words):
    """A small leaf-or-caller function of register arithmetic and RAM traffic."""
    asm.align4()
    asm.label(name)
    asm.push([4, 5, 6, 7])
    literal = f"{name}_ram"
    asm.ldr_lit(4, literal)
    for _ in range(4 + rng.next(14)):
        choice = rng.next(6)
        rd, rm = rng.next(4), rng.next(4)
        if choice == 0:
            asm.movs(rd, rng.next(256))
        elif choice == 1:
            asm.alu(ALU_OPS[rng.next(len(ALU_OPS))], rd, rm)
        elif choice == 2:
            asm.ldr(rd, 4, 4 * rng.next(ram_words - WORKER_BASE_WORDS))
        elif choice == 3:
            asm.str_(rd, 4, 4 * rng.next(ram_words - WORKER_BASE_WORDS))
        elif choice == 4:
            asm.lsls(rd, rm, 1 + rng.next(31))
        elif callees:
            asm.bl(callees[rng.next(len(callees))])
    asm.pop([4, 5, 6, 7])
    asm.align4()
    asm.label(literal)
    asm.word(RAM_BASE + 4 * rng.next(WORKER_BASE_WORDS))


def build():
    table = LINK_BASE + STARTUP_TABLE_OFFSET
    ram_init = table + 32
    end = LINK_BASE + IMAGE_LENGTH
    asm = Thumb(LINK_BASE, IMAGE_LENGTH, 0x00)

    words = vector_table()
    asm.org(LINK_BASE + CODE_OFFSET)
    reset_handler(asm, table, ram_init)
    fault_handlers(asm)

    rng = XorShift(0x1800_2820)
    version_reply(asm)
    for irq, register in OWN_IRQS.items():
        irq_handler(asm, irq, register, RAM_BASE + RAM_INIT_LENGTH)
    names = [f"fn{i:03}" for i in range(8)]
    main_loop(asm, names)
    for name in names:
        worker(asm, name, rng, [], RAM_INIT_LENGTH // 4)
    index = len(names)
    for limit in (HARDFAULT_HANDLER, table):
        while asm.pc < limit - 96:
            name = f"fn{index:03}"
            worker(asm, name, rng, names[-16:], RAM_INIT_LENGTH // 4)
            names.append(name)
            index += 1
        if limit == HARDFAULT_HANDLER:
            asm.org(HARDFAULT_HANDLER)
            asm.hang()
    asm.org(table)

    # Start-up table: copy the initial values into RAM, then clear the rest below the stack.
    zero_start = RAM_BASE + RAM_INIT_LENGTH
    zero_length = INITIAL_STACK_POINTER - STACK_SIZE - zero_start
    asm.put(table, struct.pack("<4I", ram_init, RAM_BASE, RAM_INIT_LENGTH, COPY_RECORD))
    asm.put(table + 16, struct.pack("<4I", 0, zero_start, zero_length, ZERO_RECORD))
    asm.put(ram_init, bytes(rng.next(256) for _ in range(RAM_INIT_LENGTH)))

    asm.resolve()
    for index, value in enumerate(words):
        if isinstance(value, str):
            value = asm.labels[value] + 1
        asm.put(LINK_BASE + 4 * index, struct.pack("<I", value))
    assert len(asm.mem) == IMAGE_LENGTH and end == LINK_BASE + len(asm.mem)
    return bytes(asm.mem)


def main(argv):
    beside = pathlib.Path(__file__).resolve().parent
    output = pathlib.Path(argv[1]) if len(argv) > 1 else beside / "argb-controller-fw.bin"
    output.write_bytes(build())
    print(f"wrote {IMAGE_LENGTH} bytes to {output}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
