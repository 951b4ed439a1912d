#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora under fuzz/corpus/: small inputs that each describe a good
exchange or one documented misbehaviour, for the fuzzers to start from. Run it again after a
change of an input format."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(fuzzer, name, data):
    folder = os.path.join(HERE, 'corpus', fuzzer)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def reply(data, split=0):
    return struct.pack('>HB', len(data), split) + data


def status_record(length=32, checksum_ok=True, missing=0):
    record = bytearray(length + 2)
    record[0] = length
    record[1:7] = bytes(range(1, 7))
    record[7] = 1
    record[9:12] = b'ALV'
    record[12], record[13], record[14] = 1, 5, 0x0E
    record[15:27] = b'CVA-0001-B2K'
    record[27], record[28], record[29], record[30] = 0x12, 0x34, 220, 3
    checksum = (sum(record[:length - 1]) % 256) ^ 0x55
    record[length - 1] = checksum if checksum_ok else checksum ^ 0xFF
    record[length:length + 2] = b'\r\n'
    return bytes(record[:len(record) - missing])


def identification(status, split=0, eeprom=(1, 2, 3, 4, 16, 1, 2)):
    ok = reply(b'OK\r\n')
    records = ok + reply(status, split) + reply(b'CORVANE ALVO FW 1.05 2026-03-11\r\n')
    records += reply(bytes(range(20))) + reply(b'\xef\x40\x1b')
    records += b''.join(reply(bytes([value])) for value in eeprom)
    return records + ok


write('fuzz_identify', 'good', identification(status_record()))
write('fuzz_identify', 'status-48', identification(status_record(48)))
write('fuzz_identify', 'wrong-checksum', identification(status_record(checksum_ok=False)))
write('fuzz_identify', 'short-status', identification(status_record(missing=1)))
write('fuzz_identify', 'split-status', identification(status_record(40), split=32))
write('fuzz_identify', 'eeprom-out-of-range', identification(status_record(), eeprom=(0, 0, 0, 0, 17, 0xFF, 0xFF)))
write('fuzz_identify', 'no-ack', reply(b'ER\r\n') * 5)


def memory_record(kind, address, data=b'', length=None):
    return struct.pack('>BIH', kind, address, len(data) if length is None else length) + data


write('fuzz_memory', 'as-built', b'')
write('fuzz_memory', 'other-palette', memory_record(0, 0x85000, bytes(range(24))))
write('fuzz_memory', 'silent-directory', memory_record(1, 0x80000))
write('fuzz_memory', 'swapped-pointer', memory_record(2, 0x1C480))
write('fuzz_memory', 'short-description', memory_record(3, 0x82000, length=5))
write('fuzz_memory', 'chain-loop', memory_record(0, 0x81000, struct.pack('>IHH', 0x81000, 8, 0xFFFF)))
write('fuzz_memory', 'wide-items', memory_record(0, 0x83000, b'\x55' * 8 + struct.pack('>IHH', 0x84000, 0xFFFF, 0xFFFF)))


def strips(width, height):
    data = bytearray(b'\x5a' * (width // 8 * 1536))
    for s in range(width // 8):
        for r in range(height):
            value = 0
            for k in range(8):
                value = (value << 3) | ((s * 8 + k + r) % 8)
            data[s * 1536 + 3 * r:s * 1536 + 3 * r + 3] = value.to_bytes(3, 'big')
    return bytes(data)


def capture(width, height, orientation=0, status=0, switches=0, shorter=0, image=None):
    header = struct.pack('>HHHIHBh', width, height, orientation, 0x90000, status, switches, shorter)
    return header + (strips(width, height) if image is None else image)


write('fuzz_decode', 'portrait-16x10', capture(16, 10))
write('fuzz_decode', 'landscape-16x10-frozen', capture(16, 10, orientation=1, switches=1))
write('fuzz_decode', 'width-20', capture(20, 4))
write('fuzz_decode', 'refused', capture(16, 10, status=17))
write('fuzz_decode', 'halt-refused', capture(16, 10, switches=1 | 2))
write('fuzz_decode', 'restart-refused-short', capture(16, 10, switches=1 | 4 | 16, shorter=100))
write('fuzz_decode', 'swapped-trailer', capture(16, 10, switches=8))
write('fuzz_decode', 'nothing-stored', capture(8, 512, image=b''))
write('fuzz_decode', 'too-wide', capture(2049, 2, orientation=1, image=b''))

write('fuzz_settings', 'as-saved', b'\x00\x00\x00\x03' + b'[COM]\nPort=3\n[Options]\nFreezeImage=0\n'
      b'[Window]\nX=10\nY=10\nWidth=800\nHeight=600\nMaximized=0\n')
write('fuzz_settings', 'hand-edited', b'\x00\x00\x00\x0a' + b'\xef\xbb\xbf; f\xfcr Ger\xe4te\r\n[com]\r\n'
      b'port = 0x0A\r\n[Window]\r\nX="$1E"\r\nWidth=99999999999\r\n[Other]\r\nName=M\xfcller')
write('fuzz_settings', 'sections-twice', b'\xff\xff\xff\xff' + b'[Window]\n[COM]\nPort=1\n[Window]\nX=5\n[COM\nPort=2\n')


def arguments(*words):
    return b''.join(word.encode() + b'\0' for word in words)


write('fuzz_arguments', 'capture-png', arguments('capture', '--port', 'COM5', '-o', 'out.png'))
write('fuzz_arguments', 'capture-stdout', arguments('capture', '--port=/dev/ttyUSB0', '--freeze', '--format', 'bmp', '-o', '-'))
write('fuzz_arguments', 'identify-find-json', arguments('identify', '--find', '--json'))
write('fuzz_arguments', 'ports-json', arguments('ports', '--json'))
write('fuzz_arguments', 'unfreeze-huge-port', arguments('unfreeze', '--port', 'COM99999999999'))
write('fuzz_arguments', 'empty-port', arguments('identify', '--port', ''))
write('fuzz_arguments', 'help', arguments('capture', '--help'))
write('fuzz_arguments', 'version', arguments('--version'))
write('fuzz_arguments', 'capture-all-series', arguments('capture', '--all', '--count', '0', '--interval', '2.5', '-o', 'run/{port}/{date}-{n}.png', '--json'))
