// One cursor of the drawer's cache: the icon made from a published cursor, its hot spot and its
// size in cursor pixels. The entry owns the icon (destroyed with it); it can be moved, not copied.
#pragma once

#include "capturers/TGdiHandles.h"

#include <windows.h>

#include <cstdint>

struct TCursorCacheEntry {
    TIcon hIcon;
    int32_t iHotspotX = 0;
    int32_t iHotspotY = 0;
    int32_t iWidth = 0;
    int32_t iHeight = 0;
};
