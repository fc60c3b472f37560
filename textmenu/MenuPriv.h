// MenuPriv.h - helpers the engine's sources share: catalog texts as strings
// and the <Return> wait that follows every message.
#pragma once

#include <string>

namespace textmenu_detail {

// The catalog text section/number of the core database, or "Error" when the
// catalog has no such entry.
std::string CatalogText(int section, int number);

// The catalog text used as a printf format with the arguments that follow,
// cut at 64 KiB; "Error" when the entry is missing.
std::string CatalogFormat(int section, int number, ...);

// Prints "Press <Return> to continue", flushes and reads one line into LineBuf.
void WaitForReturn();

} // namespace textmenu_detail
