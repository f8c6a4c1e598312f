#!/usr/bin/env python3
"""release-archive.py FOLDER ARCHIVE: writes the files of FOLDER (no subfolders) into the zip
ARCHIVE so that the same files always give the same bytes: names in sorted order, every entry
dated SOURCE_DATE_EPOCH (read as UTC; default 2000-01-01), mode 0644 for Unix and no other
attribute of the build machine (owner, extra time fields, file order on disk)."""
import os
import sys
import time
import zipfile


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: release-archive.py FOLDER ARCHIVE")
    folder, archive = sys.argv[1], sys.argv[2]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "946684800"))
    # A zip entry's date is a local DOS date from 1980 on: one read as UTC, clamped.
    stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
    names = sorted(n for n in os.listdir(folder) if os.path.isfile(os.path.join(folder, n)))
    if not names:
        sys.exit(f"{folder} holds no files")
    partial = archive + ".partial"
    with zipfile.ZipFile(partial, "w") as out:
        for name in names:
            entry = zipfile.ZipInfo(name, date_time=stamp)
            entry.create_system = 3
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name), "rb") as source:
                out.writestr(entry, source.read(), compresslevel=9)
    os.replace(partial, archive)


if __name__ == "__main__":
    main()
