#!/usr/bin/python3
"""Writes a zip that two builds of the same source make byte for byte the same: the files in
the order given, each stamped with SOURCE_DATE_EPOCH (UTC; the zip format starts in 1980) and
readable by all, with no owner, extra fields or time zone of the machine that made it.

    zip_files.py OUT.zip DIR NAME...    NAME relative to DIR, stored under that name
"""
import os
import sys
import time
import zipfile


def main():
    out, folder, names = sys.argv[1], sys.argv[2], sys.argv[3:]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # 1980-01-01, the earliest a zip can hold
    with zipfile.ZipFile(out + ".part", "w") as z:
        for name in names:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that the mode below is what unzip gives
            info.external_attr = 0o644 << 16
            with open(os.path.join(folder, name), "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(out + ".part", out)


if __name__ == "__main__":
    main()
