// SettingsText.h - for tests and fuzz targets of settings files: what
// StoreMenu writes for a menu, as a string. Header only, so that the fuzz
// targets, which do not link the unit-test support, share it too.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "TextMenu.h"
#include "utils.h"

// The settings text of the menu and its current submenus. pOut is pointed at
// a memory stream for the call and is null again afterwards.
inline std::string StoredSettingsText(TextMenu *menu) {
    char *data = nullptr;
    size_t size = 0;
    pOut = open_memstream(&data, &size);
    if (pOut == nullptr) return "";
    StoreMenu(menu);
    fclose(pOut);
    pOut = nullptr;
    std::string text(data, size);
    free(data);
    return text;
}
