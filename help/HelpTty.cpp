// HelpTty.cpp - the help front end while the viewer is not built: it says so
// and waits for <Return>.
#include "HelpTty.h"

#include "TextMenu.h"

char *pTtyHtmlName = nullptr;
char *pTtyHtmlData = nullptr;
char *pTtyHtmlTitle = nullptr;

void TtyHtmlHelp(char * /*name*/, char * /*data*/, char * /*title*/) {
    PostMsg("\nHelp is not available.\n");
}
