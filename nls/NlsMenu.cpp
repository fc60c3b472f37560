// Catalog texts in menus, composed strings and formatted output.
#include "NlsUtils.h"

char *NlsTtyMenuCvt(char **, int) { return nullptr; }
int NlsTtyMenuItemCvt(TextMenuItem *, int, int count) { return count; }
int NlsTtyMenuItemStateCvt(TextMenuItem *, int, int count) { return count; }
int NlsTtyMenuItemPromptCvt(TextMenuItem *, int, int count) { return count; }
char *NlsGuiStrCvt(const char *, int, char *buf, int) { return buf; }
void Nlsfprintf(FILE *, DbT *, int, int, ...) {}
void Nlssprintf(char *, DbT *, int, int, ...) {}
