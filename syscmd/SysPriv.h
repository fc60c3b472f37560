// SysPriv.h - steps shared by the command layer's own files; not part of the
// public interface.
#ifndef DORNA_SYSPRIV_H
#define DORNA_SYSPRIV_H

#include "SysCmd.h"
#include "utils.h"

#include <cstring>
#include <string>

// A path as one word of a command line (SysShellWord). A relative path that
// begins with a dash would be read by rm, mv, touch, mkdir, df or du as
// options ("-rf", "--help"), so it is given as "./" and the path, which names
// the same entry.
std::string SysPathWord(const char *path, bool wrapped);

// Cuts text[0, len) into the words a shell would make of it, when the text
// is a plain command line: words made of characters SysShellWord leaves bare
// and of the quoted forms it makes, blanks between them, and a first word
// that names a program by a path (it holds a '/' before any '='). `wrapped`:
// the text stands inside sh -c "..." (SysShellWord's wrapped form). Fills
// args with the words, null-ended, decoded into `words`; args must hold
// len / 2 + 2 entries and words len + 1 bytes. False, with args and words
// undefined, for any other text: such a line needs the shell.
bool SysReadPlainWords(const char *text, size_t len, bool wrapped, const char **args, char *words);

// Keeps the shared tokenizer as the caller left it: its cursor, szTokenIn,
// GetTokenBuf and chTokenDel are saved when the keeper is made and put back
// when it goes. A command may run inside a caller's GetToken loop (the menu
// engine clears the screen between two tokens), and a resolution or a query
// that moved the cursor would end that loop early. The layer's own scans use
// private cursors and buffers (GetTokenD), so a caller's argument that points
// into GetTokenBuf also stays intact while the call runs.
class TokenizerKeeper {
  public:
    TokenizerKeeper() : cursor_(GetTokenBufInput()), tokenIn_(szTokenIn), delim_(chTokenDel) {
        memcpy(buf_, GetTokenBuf, sizeof buf_);
    }
    ~TokenizerKeeper() {
        SetTokenBuf(cursor_);
        szTokenIn = tokenIn_;
        chTokenDel = delim_;
        memcpy(GetTokenBuf, buf_, sizeof buf_);
    }
    TokenizerKeeper(const TokenizerKeeper &) = delete;
    TokenizerKeeper &operator=(const TokenizerKeeper &) = delete;

  private:
    char *cursor_;             // the shared cursor (GetTokenBufInput)
    char *tokenIn_;            // szTokenIn
    char delim_;               // chTokenDel
    char buf_[TOKEN_BUF_SIZE]; // GetTokenBuf
};

#endif // DORNA_SYSPRIV_H
