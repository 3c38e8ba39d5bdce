// Resource identifiers shared by tarnwick.rc (windres) and the C++ sources.
// Plain #defines only, so the resource compiler can read this file too.
#ifndef TARNWICK_RESOURCE_IDS_H
#define TARNWICK_RESOURCE_IDS_H

#define IDI_TARNWICK 1       // the program's icon (16, 32 and 48 pixels)
#define IDC_HAND_CURSOR 101  // pointing hand over the clickable lines
#define IDB_PICTURE 102      // the 180 x 135 picture shown in the panel (a 24-bit DIB)

#endif
