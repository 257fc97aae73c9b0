#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Each seed is a small valid input of our own making, laid out the way its target reads the
fuzz bytes (see the comment above each target's LLVMFuzzerTestOneInput). Run it again after
changing a layout; the generated files are committed beside it.
"""

import pathlib
import shutil
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


def elf32(segments, entry=0x08000000):
    """A 32-bit little-endian ARM executable with one PT_LOAD header per (address, bytes)."""
    header_size, entry_size = 52, 32
    table_end = header_size + entry_size * len(segments)
    ident = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
    header = ident + struct.pack(
        "<HHIIIIIHHHHHH",
        2,  # ET_EXEC
        40,  # EM_ARM
        1,
        entry,
        header_size,  # e_phoff: the table follows the header
        0,  # e_shoff: no sections
        0x05000000,
        header_size,
        entry_size,
        len(segments),
        40,
        0,
        0,
    )
    table = b""
    body = b""
    for address, data in segments:
        offset = table_end + len(body)
        table += struct.pack("<IIIIIIII", 1, offset, address, address, len(data), len(data), 5, 4)
        body += data
    return header + table + body


def pattern(n, start=0):
    return bytes((start + 7 * i) & 0xFF for i in range(n))


def port_script(data, fail_at_end=False, empty_reads=0, chunk=0):
    """The two header bytes of a scripted serial port, then what it answers."""
    return bytes([empty_reads << 1 | int(fail_at_end), chunk]) + data


def hid_report(contents, count=None):
    """One read that hands out a report: kind 0, the count, the bytes after the report ID."""
    count = len(contents) + 1 if count is None else count
    return bytes([0, count]) + contents


def json_line(*members):
    parts = []
    for key, value in members:
        if isinstance(value, str):
            text = value.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
            parts.append(f'"{key}":"{text}"')
        else:
            parts.append(f'"{key}":{value}')
    return "{" + ",".join(parts) + "}"


def events(wait_status, lines):
    return struct.pack("<H", wait_status) + "".join(line + "\n" for line in lines).encode()


def seeds():
    ack = b"U5U"
    cr02 = b"C" + bytes([0x01, 0x02, 0x03, 0x04, 0x05]) + bytes(9) + b"R"
    status = json_line(("event", "status"), ("port", "COM1"), ("text", "Search Device..."))
    progress = json_line(("event", "progress"), ("port", "COM1"), ("percent", 42))
    finished = json_line(
        ("event", "message"),
        ("port", "COM1"),
        ("caption", "Update"),
        ("text", "Download Finished!"),
        ("icon", "none"),
    )
    succeeded = json_line(
        ("event", "result"),
        ("port", "COM1"),
        ("result", "succeeded"),
        ("exit", 0),
        ("seconds", 12.34),
    )
    no_ack = json_line(
        ("event", "message"),
        ("port", "/dev/ttyUSB0"),
        ("caption", "UFLHU"),
        ("text", 'NO Ack! "quoted"\nline \\ \u00e9'),
        ("icon", "hand"),
    )
    failed = json_line(
        ("event", "result"),
        ("port", "/dev/ttyUSB0"),
        ("result", "failed"),
        ("exit", 1),
        ("seconds", 3),
    )
    return {
        "fuzz_elf_segments": {
            "one-segment.out": elf32([(0x08000000, pattern(40))]),
            "two-segments.out": elf32([(0x08000000, pattern(24)), (0x08000400, pattern(16, 3))]),
            "segment-above-512.out": elf32([(0x20000000, pattern(600))]),
        },
        "fuzz_firmware_image": {
            "one-byte.bin": b"\xa5",
            "one-block.bin": pattern(2048),
            "one-block-and-a-byte.bin": pattern(2049),
        },
        "fuzz_port_names": {
            "file-in-xdg": b"\x00\x01\x00"
            + b"COM1=/dev/ttyUSB0\n# a comment\ncom2 = /dev/ttyACM0  # the cradle\n"
            + b"COM3=relative/path\nCOM4\n",
            "file-in-home": b"\x00\x04\x00"
            + b"COM5=/dev/a\nCOM5=/dev/b\n\tCOM9 =\t/dev/ttyUSB9\r\n",
            "variable-wins": b"\x03\x05/dev/ttyUSB3\x00" + b"COM3=/dev/ttyS9\n",
            "relative-xdg": b"\x00\x02\x00" + b"COM1=/dev/never\n",
        },
        "fuzz_serial_ack": {
            "ack": port_script(ack),
            "ack-then-more": port_script(ack + ack),
            "ack-late": port_script(ack, empty_reads=3),
            "nak": port_script(b"NAK"),
            "nul-inside": port_script(b"U\x005"),
            "cut-short-then-fail": port_script(b"U5", fail_at_end=True),
            "silence": port_script(b""),
        },
        "fuzz_hid_reader": {
            "ack": hid_report(b"\x00" + ack),
            "full-ack": hid_report(b"\x00" + ack + pattern(60)),
            "short-then-ack": hid_report(b"\x00", count=2)
            + b"\x05\x06"
            + hid_report(b"\x00" + ack),
            "no-ack-then-fail": hid_report(b"\x00NAK") + b"\x07\x05",
        },
        "fuzz_maintenance_reply": {
            "version": bytes([0]) + port_script(b"V1.02 2019\x00rest"),
            "query-in-pieces": bytes([1]) + port_script(b"CRADLE OK", chunk=4),
            "cr02": bytes([2]) + port_script(cr02),
            "cr02-in-pieces": bytes([2]) + port_script(cr02, chunk=8),
            "undiscover": bytes([3]) + port_script(b"\x06"),
            "undiscover-refused": bytes([3]) + port_script(b"\x15"),
            "refused-port": bytes([0x80, 13]) + port_script(b""),
            "silence": bytes([0]) + port_script(b"", fail_at_end=True),
        },
        "fuzz_port_events": {
            "succeeded": events(0, [status, progress, finished, succeeded]),
            "failed": events(1 << 8, [status, no_ack, failed]),
            "killed": events(9, [status, progress, '{"event":"prog']),
        },
        "fuzz_flash_options": {
            "com-port": b"--port\x00COM1\x00fw.bin",
            "parallel-json": b"--port\x00usb\x00--port\x00/dev/ttyUSB0\x00--json\x00fw.out",
            "cradle-id": b"--port\x00COM3\x00cradle-id\x00ABCDEF123456",
            "demo": b"--demo\x00--trace\x00wire.txt",
            "quiet-and-json": b"--quiet\x00--json\x00fw.bin",
        },
    }


def main():
    for target, files in seeds().items():
        folder = CORPUS / target
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for name, data in files.items():
            (folder / name).write_bytes(data)
        print(f"{target}: {len(files)} seeds")


if __name__ == "__main__":
    main()
