// MenuPriv.h - helpers the engine's sources share: catalog texts as strings
// and the <Return> wait that follows every message.
#pragma once

#include "TextMenu.h"

#include <cstdint>
#include <string>

namespace textmenu_detail {

// Number of items before the one whose text is null.
int CountItems(const TextMenu *menu);

// True for a lettered item ("~k Text").
bool IsLettered(const TextMenuItem *item);

// Token n (0-based) of a comma state list, copied into GetTokenBuf without
// moving the shared tokenizer cursor; null when there is none.
char *StateToken(const char *states, intptr_t n);

// The 256-byte value buffer of a name or text item, taken from the memory
// manager when the item has none yet; null when no memory can be had.
char *TextBuffer(TextMenuItem *item);

// The catalog text section/number of the core database, or "Error" when the
// catalog has no such entry.
std::string CatalogText(int section, int number);

// CatalogText, to be used as a printf format: a text whose conversions are
// not those of the English text of its key gives the English text instead
// (NlsCheckedFormat). "Error" when the entry is missing.
std::string CatalogFormatText(int section, int number);

// The catalog text used as a printf format with the arguments that follow,
// cut at 64 KiB; "Error" when the entry is missing. Checked as
// CatalogFormatText.
std::string CatalogFormat(int section, int number, ...);

// True when text holds a byte that steers a terminal instead of showing a
// character: C0 controls, DEL, and C1 controls (raw, or encoded in UTF-8).
bool HasControlCharacter(const char *text);

// text cut at `max` bytes, with every control character written as a
// backslash escape ("\033"), for messages that quote a file's text.
std::string PrintableText(const char *text, size_t max);

// Prints "Press <Return> to continue", flushes and reads one line into LineBuf.
void WaitForReturn();

} // namespace textmenu_detail
