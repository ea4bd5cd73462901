"""The same job in Python with zlib: list each folder, and print every file's name, size and
CRC-32, reading with 256 KiB reads into one buffer."""
import os
import sys
import zlib

CHUNK = 256 * 1024


def main():
    buf = bytearray(CHUNK)
    view = memoryview(buf)
    out = []
    for folder in sys.argv[1:]:
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            crc = 0
            size = 0
            with open(path, "rb", buffering=0) as f:
                while True:
                    n = f.readinto(buf)
                    if not n:
                        break
                    crc = zlib.crc32(view[:n], crc)
                    size += n
            out.append("%s %d %08X\n" % (name, size, crc))
    sys.stdout.write("".join(out))


if __name__ == "__main__":
    main()
