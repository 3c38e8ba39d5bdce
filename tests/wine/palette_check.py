#!/usr/bin/env python3
"""Reads the program's GDI calls from Wine's relay log: it made one halftone palette, selected it
into the device context it draws the picture on, realised it and set the stretch mode given
before it drew the picture. Usage: palette_check.py LOG MODE (3 COLORONCOLOR, 4 HALFTONE)"""

import re
import sys


def main():
    log = open(sys.argv[1], errors="replace").read()
    mode = f"{int(sys.argv[2]):08x}"
    # The program's own calls: they return into its image, at 0x00400000.
    calls = re.findall(r"(Call|Ret)  ?gdi32\.(\w+)\(([^)]*)\)(?: retval=(\w+))? ret=004", log)
    made = [value for kind, name, _, value in calls if kind == "Ret" and name == "CreateHalftonePalette"]
    if len(made) != 1 or int(made[0], 16) == 0:
        sys.exit(f"halftone palettes made: {made}")
    drawn = [i for i, (kind, name, _, _) in enumerate(calls) if kind == "Call" and name == "StretchBlt"]
    if not drawn:
        sys.exit("the picture was not drawn with StretchBlt")
    dc = calls[drawn[0]][2].split(",")[0]
    selected = [i for i, (kind, name, args, _) in enumerate(calls[:drawn[0]])
                if kind == "Call" and name == "SelectPalette" and args.split(",") == [dc, made[0], "00000000"]]
    if not selected:
        sys.exit(f"the halftone palette {made[0]} was not selected into {dc} before the picture")
    between = [(name, args) for kind, name, args, _ in calls[selected[-1]:drawn[0]] if kind == "Call"]
    if ("RealizePalette", dc) not in between or ("SetStretchBltMode", f"{dc},{mode}") not in between:
        sys.exit(f"between the palette's selection and the picture: {between}")
    print(f"halftone palette {made[0]} selected and realised, stretch mode {int(mode)}, then the picture")


if __name__ == "__main__":
    main()
