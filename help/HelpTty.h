// HelpTty.h - the help viewer's terminal front end, as the menu engine calls
// it when the user answers 'h' in a menu that offers help.
#pragma once

// The help the menu engine opens: file name, help text already in memory
// (or null) and title. Set by the host program.
extern char *pTtyHtmlName;
extern char *pTtyHtmlData;
extern char *pTtyHtmlTitle;

// Shows the help file `name` (or the help text `data`) under `title` and
// returns when the user leaves it.
void TtyHtmlHelp(char *name, char *data, char *title);
