// The command-line editor: lines typed at the terminal with two key sets, history, completion
// and type-ahead, and the reading of standard input when it is not a terminal.
#include "cmdedit.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "Lumbra.h"

// ---------------------------------------------------------------------------
// Keys and limits

constexpr int CTRL_KEY(int c) { return c & 0x1F; }

constexpr int K_COMPLETE = 0, K_HOME = CTRL_KEY('A'), K_LEFT = CTRL_KEY('B'),
              K_DELETE = CTRL_KEY('D'), K_END = CTRL_KEY('E'), K_RIGHT = CTRL_KEY('F'),
              K_CLEAR = CTRL_KEY('G'), K_BACKSPACE = 8, K_TAB = 9, K_ENTER = '\n',
              K_CLEAREOL = CTRL_KEY('K'), K_REDRAW = CTRL_KEY('L'), K_DOWN = CTRL_KEY('N'),
              K_UP = CTRL_KEY('P'), K_FIND = CTRL_KEY('R'), K_LIST = CTRL_KEY('T'),
              K_UNDO = CTRL_KEY('U'), K_INSERT = CTRL_KEY('V'), K_RIGHTWORD = CTRL_KEY('W'),
              K_CLEAR2 = CTRL_KEY('X'), K_LEFTWORD = CTRL_KEY('Y'), K_DOS_EXIT = CTRL_KEY('Z'),
              K_ESCAPE = 27, K_MATCH = CTRL_KEY(']'), K_BACKSPACE2 = 127;
constexpr int BELL = 7;

constexpr int LINELEN = 1024;        // a line and its terminating 0
constexpr int MAXLINE = LINELEN - 1; // the characters a line can hold
constexpr int NONELEFT = 1024;       // nextCharFromUser once the line is delivered
constexpr int QLINES = 100;          // lines of history
constexpr int MAXPUSHED = 1 << 20;   // keys the queue holds at most; more wait in the terminal

enum class Mode { TEXT_MODE = 1, ARROW_MODE, VI_MODE, VI_WAIT_MODE, VI_ARROW_MODE };

// ---------------------------------------------------------------------------
// The line being delivered and the history

static char inString[LINELEN + 1];
static int inLength;
static int nextCharFromUser = NONELEFT;

static char history[QLINES][LINELEN];
static int histNext; // the slot the next line goes to

// The last f or F of the modal set, repeated by ; and ,.
static int lastFindChar, lastFindDir;

// ---------------------------------------------------------------------------
// Standard input that is not a terminal. The state belongs to the stream being read: another
// one (the terminal, once the first has ended) is read afresh.

static FILE *inSource;
static bool inTerminal, inEdited; // the stream is a terminal; its lines are edited
static int firstRead, skipToEnd, stdinIsUnicode, unicodeBigEndian;

static void newsource(FILE *f) {
    inSource = f;
    inTerminal = isatty(fileno(f));
    inEdited = inTerminal && isatty(STDOUT_FILENO);
    firstRead = 1;
    skipToEnd = stdinIsUnicode = 0;
    inLength = 0;
    nextCharFromUser = NONELEFT;
}

// Nothing more of the stream is read: a file is left at its end, and a pipe, which cannot be,
// is marked.
static void skiprest(FILE *f) {
    if (fseek(f, 0, SEEK_END) != 0) skipToEnd = 1;
}

// A byte of the stream; an interrupt while waiting is not the end of the input.
static int getbyte(FILE *f) {
    for (;;) {
        int c = getc(f);
        if (c != EOF || !ferror(f) || errno != EINTR) return c;
        clearerr(f);
    }
}

// A character of the stream: two bytes of UTF-16 whose high byte must be 0, else one byte.
static int nextbyte(FILE *f) {
    if (!stdinIsUnicode) return getbyte(f);
    int a = getbyte(f);
    int b = a == EOF ? EOF : getbyte(f);
    if (b == EOF) return EOF;
    int high = unicodeBigEndian ? a : b, low = unicodeBigEndian ? b : a;
    if (high == 0) return low;
    skiprest(f); // a character beyond one byte: not text this reader can deliver
    return EOF;
}

// A byte-order mark selects UTF-16; any other first byte that is not text ends the input, so
// that a binary file given by mistake is not executed.
static void checkfirstbyte(FILE *f) {
    int c = getbyte(f);
    if (c == EOF) return;
    if (c == 0xFF || c == 0xFE) {
        if (getbyte(f) == (c ^ 1)) {
            stdinIsUnicode = 1;
            unicodeBigEndian = c == 0xFE;
        } else {
            skiprest(f);
        }
        return;
    }
    if ((c < ' ' || c > '~') && (c < 8 || c > 13))
        skiprest(f);
    else
        ungetc(c, f);
}

// Reads one line of at most MAXLINE characters; false at the end of the input.
static bool directline(FILE *f) {
    if (firstRead) {
        firstRead = 0;
        if (!inTerminal) checkfirstbyte(f);
    }
    if (skipToEnd) return false;
    int n = 0, c;
    while (n < MAXLINE && (c = nextbyte(f)) != EOF) {
        inString[n++] = (char)c;
        if (c == '\n') break;
    }
    if (n == 0) return false;
    inLength = n;
    return true;
}

// ---------------------------------------------------------------------------
// The key queue: keys read from the terminal wait in a ring held by a SYSTEM object, which the
// collector never takes; it doubles when full.

static ALGEB pushedKeys;
static int numPushed, maxPushed, qHead, qTail;

static unsigned char *keyring() { return (unsigned char *)(pushedKeys + 1); }

static void pushkey(int c) {
    if (numPushed == maxPushed) {
        int size = maxPushed == 0 ? 256 : 2 * maxPushed;
        ALGEB q = Newl1(1 + NrALGEBs(size, char), SYSTEM);
        unsigned char *to = (unsigned char *)(q + 1);
        for (int i = 0; i < numPushed; i++)
            to[i] = keyring()[(qHead + i) % maxPushed];
        if (pushedKeys != 0) Dispose(pushedKeys);
        pushedKeys = q;
        maxPushed = size;
        qHead = 0;
        qTail = numPushed;
    }
    keyring()[qTail] = (unsigned char)(c & 0x7F);
    qTail = (qTail + 1) % maxPushed;
    numPushed++;
}

static int popkey() {
    int c = keyring()[qHead];
    qHead = (qHead + 1) % maxPushed;
    numPushed--;
    return c == '\r' ? '\n' : c;
}

enum class Pull { Keys, End, Interrupted };

// Moves the keys typed so far into the queue; with wait, first waits for at least one.
static Pull pullkeys(int fd, bool wait) {
    for (;;) {
        int avail = 0;
        if (!wait && (ioctl(fd, FIONREAD, &avail) != 0 || avail <= 0)) return Pull::Keys;
        unsigned char buf[256];
        size_t room = std::min<size_t>(sizeof buf, (size_t)(MAXPUSHED - numPushed));
        if (!wait) room = std::min(room, (size_t)avail);
        if (room == 0) return Pull::Keys;
        ssize_t n = read(fd, buf, room);
        if (n == 0) return Pull::End;
        if (n < 0) return errno == EINTR ? Pull::Interrupted : Pull::End;
        for (ssize_t i = 0; i < n; i++)
            pushkey(buf[i]);
        wait = false;
    }
}

// ---------------------------------------------------------------------------
// Terminal settings. The editing settings hold only while a line is edited; signal handlers
// put back the others if the program is stopped or ended in the middle of a line.

static struct termios ostate, nstate;
static int keyInit;
static int ttyfd = -1;
static volatile sig_atomic_t editing, resized, resumed;

static void leaveediting() {
    if (editing) tcsetattr(ttyfd, TCSANOW, &ostate);
}

// Signals that end the program: the terminal is put back and the earlier disposition acts.
static constexpr int EndingSignals[] = {SIGHUP,  SIGTERM, SIGQUIT, SIGABRT,
                                        SIGSEGV, SIGBUS,  SIGFPE,  SIGILL};
static struct sigaction earlier[NSIG];

static void ending(int sig) {
    leaveediting();
    sigaction(sig, &earlier[sig], nullptr);
    // A fault repeats when the handler returns; the others are raised again.
    if (sig != SIGSEGV && sig != SIGBUS && sig != SIGFPE && sig != SIGILL) raise(sig);
}

// Control-Z: the shell gets its terminal back while the program is stopped; on continuing the
// line is edited again where it was.
static void suspend(int) {
    int was = editing;
    leaveediting();
    struct sigaction ours, dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGTSTP, &dfl, &ours);
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &s, nullptr);
    raise(SIGTSTP);
    sigaction(SIGTSTP, &ours, nullptr);
    if (was) {
        tcsetattr(ttyfd, TCSANOW, &nstate);
        resumed = 1;
    }
}

static void resize(int) { resized = 1; }

static void handle(int sig, void (*f)(int), struct sigaction *old) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = f;
    sa.sa_flags = SA_ONSTACK; // no restart: a wait for keys ends, and the editor reacts
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, old);
}

// Captures the settings found before editing, once; false when fd is no terminal after all.
static bool captureterminal(int fd) {
    if (keyInit) return true;
    if (tcgetattr(fd, &ostate) != 0) return false;
    nstate = ostate;
    // IEXTEN would keep control-V from arriving.
    nstate.c_lflag &= ~(tcflag_t)(ICANON | ECHO | IEXTEN);
    nstate.c_cc[VMIN] = 1;
    nstate.c_cc[VTIME] = 0;
    keyInit = 1;
    for (int sig : EndingSignals) {
        struct sigaction old;
        sigaction(sig, nullptr, &old);
        if (old.sa_handler == SIG_IGN) continue;
        handle(sig, ending, &earlier[sig]);
    }
    return true;
}

// The editing settings, and the handlers that belong to them, for as long as one line is
// edited, whichever way editing ends.
struct EditingSettings {
    struct sigaction oldtstp, oldwinch;
    explicit EditingSettings(int fd) {
        ttyfd = fd;
        resized = 0;
        resumed = 0;
        handle(SIGTSTP, suspend, &oldtstp);
        handle(SIGWINCH, resize, &oldwinch);
        editing = 1;
        tcsetattr(fd, TCSANOW, &nstate);
    }
    ~EditingSettings() {
        tcsetattr(ttyfd, TCSANOW, &ostate);
        editing = 0;
        sigaction(SIGTSTP, &oldtstp, nullptr);
        sigaction(SIGWINCH, &oldwinch, nullptr);
    }
    EditingSettings(const EditingSettings &) = delete;
    EditingSettings &operator=(const EditingSettings &) = delete;
};

// Outside a line the settings are those found already; only a way out in the middle of a line
// (an interrupt in batch mode) has something to put back.
void ResetCmdEdit() {
    leaveediting();
    editing = 0;
}

// ---------------------------------------------------------------------------
// The line being edited and its place on the screen

struct LineEdit {
    char text[LINELEN];
    int len, cur;
    char undo[LINELEN]; // the line as it was when editing began
    Mode mode;
    int insMode;   // 1 insert, 0 overwrite
    int count;     // numeric prefix of the modal set, 0 when none
    int pending;   // a modal command waiting for its character: f, F, r or d
    int pendcount; // and its count
    int escCur;    // the cursor before escape left text mode
    bool escaped;  // escape has just left text mode: "[" starts an arrow key
    bool arrowRun; // digits of an arrow sequence have been read
    int slot;      // the history slot shown; histNext for the line of one's own
    char own[LINELEN];
    bool searched; // the last key searched the history: another search goes on further
    char pattern[LINELEN];
    // The screen: the prompt, the window of win columns showing text from left on, what it
    // shows now and the column of the cursor in it.
    const char *prompt;
    int win, left;
    char shown[LINELEN];
    int nshown, col;
};

static void bell() { WriteChar(BELL); }

static bool isword(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

static void setline(LineEdit &e, const char *s) {
    e.len = std::min((int)strlen(s), MAXLINE);
    memcpy(e.text, s, (size_t)e.len);
    e.text[e.len] = 0;
    e.cur = e.len;
}

static void removechars(LineEdit &e, int at, int n) {
    n = std::min(n, e.len - at);
    if (n <= 0) return;
    memmove(e.text + at, e.text + at + n, (size_t)(e.len - at - n));
    e.len -= n;
}

// Printable characters go in at the cursor, or overwrite in overwrite mode.
static void typechar(LineEdit &e, int c) {
    if (e.insMode || e.cur == e.len) {
        if (e.len == MAXLINE) {
            bell();
            return;
        }
        memmove(e.text + e.cur + 1, e.text + e.cur, (size_t)(e.len - e.cur));
        e.len++;
    }
    e.text[e.cur++] = (char)c;
}

// Right over a word (or one other character) and the blanks after it.
static int wordright(const LineEdit &e, int i) {
    if (i < e.len && isword(e.text[i])) {
        while (i < e.len && isword(e.text[i]))
            i++;
    } else if (i < e.len && e.text[i] != ' ') {
        i++;
    }
    while (i < e.len && e.text[i] == ' ')
        i++;
    return i;
}

// Left over blanks and a word (or one other character).
static int wordleft(const LineEdit &e, int i) {
    while (i > 0 && e.text[i - 1] == ' ')
        i--;
    if (i > 0 && isword(e.text[i - 1])) {
        while (i > 0 && isword(e.text[i - 1]))
            i--;
    } else if (i > 0) {
        i--;
    }
    return i;
}

// The bracket matching the one under the cursor, counting nesting; -1 when there is none.
static int matching(const LineEdit &e) {
    static constexpr char pairs[] = "()[]{}";
    const char *p = e.cur < e.len ? strchr(pairs, e.text[e.cur]) : nullptr;
    if (p == nullptr || *p == 0) return -1;
    int k = (int)(p - pairs), dir = k % 2 == 0 ? 1 : -1;
    char c = pairs[k], partner = pairs[k ^ 1];
    int depth = 0;
    for (int i = e.cur; i >= 0 && i < e.len; i += dir) {
        if (e.text[i] == c)
            depth++;
        else if (e.text[i] == partner && --depth == 0)
            return i;
    }
    return -1;
}

static void tomatch(LineEdit &e) {
    int m = matching(e);
    if (m < 0)
        bell();
    else
        e.cur = m;
}

// ---------------------------------------------------------------------------
// Display: only the characters that changed are written, and the cursor moves left with
// backspaces. The last column of the screen stays empty, so that the terminal never wraps.

static int screenwidth() {
    struct winsize ws;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

static void moveto(std::string &out, LineEdit &e, int col) {
    if (col < e.col) out.append((size_t)(e.col - col), '\b');
    for (int c = e.col; c < col; c++)
        out += c < e.nshown ? e.shown[c] : ' ';
    e.col = col;
}

static void refresh(LineEdit &e) {
    int half = std::max(e.win / 2, 1);
    while (e.cur < e.left)
        e.left -= half;
    e.left = std::max(e.left, 0);
    while (e.cur - e.left > e.win)
        e.left += half;
    const char *want = e.text + e.left;
    int nwant = std::min(e.len - e.left, e.win);
    int from = 0, to = std::max(nwant, e.nshown);
    while (from < nwant && from < e.nshown && want[from] == e.shown[from])
        from++;
    if (nwant == e.nshown)
        while (to > from && want[to - 1] == e.shown[to - 1])
            to--;
    std::string out;
    if (from < to) {
        moveto(out, e, from);
        for (int c = from; c < to; c++)
            out += c < nwant ? want[c] : ' ';
        e.col = to;
    }
    memcpy(e.shown, want, (size_t)nwant);
    e.nshown = nwant;
    moveto(out, e, e.cur - e.left);
    WriteString(out.c_str());
}

// Places the prompt and the window. The line is edited after the last line of the prompt; the
// lines before it are written once, and so is a last line that would leave less than half the
// screen: "> " takes its place.
static void layout(LineEdit &e, const char *prompt, bool announce) {
    int width = screenwidth();
    const char *nl = strrchr(prompt, '\n');
    e.prompt = nl != nullptr ? nl + 1 : prompt;
    std::string before(prompt, (size_t)(e.prompt - prompt));
    if (width - (int)strlen(e.prompt) < width / 2) {
        before = before + e.prompt + "\r\n";
        e.prompt = "> ";
    }
    if (announce && !before.empty()) WriteString(("\r" + before).c_str());
    e.win = std::clamp(width - (int)strlen(e.prompt) - 1, 1, MAXLINE);
}

// Writes the prompt and the line afresh, not knowing what the screen shows.
static void redraw(LineEdit &e) {
    std::string out = "\r";
    out += e.prompt;
    out.append((size_t)e.win, ' ');
    out += '\r';
    out += e.prompt;
    WriteString(out.c_str());
    e.nshown = e.col = 0;
    refresh(e);
}

// ---------------------------------------------------------------------------
// Completion from the command list

static std::vector<std::string> commands;
static bool commandsRead;

// The list comes from "cmds" in the current directory, else in the library directory; "# "
// starts a comment.
static void readcommands() {
    commandsRead = true;
    FILE *f = fopen("cmds", "r");
    ALGEB lib = A(ININlibname[1]);
    if (f == nullptr && lib != 0 && textual(lib)) {
        std::string path = ID2(lib) == NAME ? std::string(NAMETEXT(lib))
                                            : std::string(STR(lib)->t, (size_t)STR(lib)->length);
        f = fopen((path + "/cmds").c_str(), "r");
    }
    if (f == nullptr) return;
    char line[LINELEN];
    while (fgets(line, sizeof line, f) != nullptr) {
        std::string s = line;
        for (size_t h = s.find('#'); h != std::string::npos; h = s.find('#', h + 1))
            if (h + 1 == s.size() || s[h + 1] == ' ' || s[h + 1] == '\t' || s[h + 1] == '\n') {
                s.erase(h);
                break;
            }
        size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
        if (b != std::string::npos) commands.push_back(s.substr(b, e - b + 1));
    }
    fclose(f);
}

// The start of the word before the cursor.
static int wordstart(const LineEdit &e) {
    int i = e.cur;
    while (i > 0 && (isword(e.text[i - 1]) || e.text[i - 1] == '['))
        i--;
    return i;
}

static std::vector<const std::string *> candidates(const LineEdit &e) {
    if (!commandsRead) readcommands();
    int start = wordstart(e);
    std::string word(e.text + start, (size_t)(e.cur - start));
    std::vector<const std::string *> found;
    for (const std::string &c : commands)
        if (c.compare(0, word.size(), word) == 0) found.push_back(&c);
    return found;
}

// Extends the word to the longest beginning that all candidates share.
static void complete(LineEdit &e) {
    std::vector<const std::string *> found = candidates(e);
    if (found.empty()) {
        bell();
        return;
    }
    size_t have = (size_t)(e.cur - wordstart(e)), common = found[0]->size();
    for (const std::string *c : found) {
        size_t k = have;
        while (k < common && k < c->size() && (*c)[k] == (*found[0])[k])
            k++;
        common = k;
    }
    int saved = e.insMode;
    e.insMode = 1;
    for (size_t k = have; k < common; k++)
        typechar(e, (*found[0])[k]);
    e.insMode = saved;
}

static void listcandidates(LineEdit &e) {
    std::vector<const std::string *> found = candidates(e);
    if (found.empty()) {
        bell();
        return;
    }
    refresh(e);
    std::string out = "\r\n";
    for (size_t i = 0; i < found.size(); i++) {
        if (i > 0) out += ' ';
        out += *found[i];
    }
    out += "\r\n----\r\n";
    WriteString(out.c_str());
    redraw(e);
}

// ---------------------------------------------------------------------------
// History

// Shows the line of a slot, which becomes the line editing began with.
static void recall(LineEdit &e, int slot) {
    if (e.slot == histNext) strcpy(e.own, e.text);
    e.slot = slot;
    setline(e, slot == histNext ? e.own : history[slot]);
    strcpy(e.undo, e.text);
}

static int ringslot(int s) { return ((s % QLINES) + QLINES) % QLINES; }

// One step back (dir -1) or forward (+1) to a line longer than one character. Going forward
// from the newest line comes back to the line being typed; the ring is not gone round.
static bool browse(LineEdit &e, int dir) {
    if (dir > 0 && e.slot == histNext) return false;
    for (int i = 1; i < QLINES; i++) {
        int s = ringslot(e.slot + dir * i);
        if (s == histNext) {
            if (dir < 0) return false;
            recall(e, s);
            return true;
        }
        if (strlen(history[s]) > 1) {
            recall(e, s);
            return true;
        }
    }
    return false;
}

// Back to the first line containing the current text; repeated, it goes on searching for the
// same text.
static bool search(LineEdit &e) {
    if (!e.searched) strcpy(e.pattern, e.text);
    for (int i = 1; i < QLINES; i++) {
        int s = ringslot(e.slot - i);
        if (s == histNext) break;
        if (history[s][0] != 0 && strstr(history[s], e.pattern) != nullptr) {
            recall(e, s);
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Keys. What a key does depends on the mode; the outcome tells the reading loop whether the
// line is finished.

enum class Outcome { Go, Enter, EndOfInput };

static void totext(LineEdit &e, int ins) {
    e.mode = Mode::TEXT_MODE;
    e.insMode = ins;
}

// In the modal set the cursor stands on a character.
static void oncharacter(LineEdit &e) {
    if (e.cur >= e.len) e.cur = std::max(e.len - 1, 0);
}

static void historykey(LineEdit &e, int k, int times) {
    bool ok = true;
    for (int i = 0; i < times && ok; i++)
        ok = k == K_FIND ? search(e) : browse(e, k == K_UP ? -1 : 1);
    if (!ok) bell();
    e.searched = k == K_FIND;
}

static Outcome textkey(LineEdit &e, int k) {
    switch (k) {
    case K_COMPLETE: complete(e); break;
    case K_LIST: listcandidates(e); break;
    case K_HOME: e.cur = 0; break;
    case K_END: e.cur = e.len; break;
    case K_LEFT: e.cur = std::max(e.cur - 1, 0); break;
    case K_RIGHT: e.cur = std::min(e.cur + 1, e.len); break;
    case K_RIGHTWORD: e.cur = wordright(e, e.cur); break;
    case K_LEFTWORD: e.cur = wordleft(e, e.cur); break;
    case K_DELETE:
        // On an empty line it is the end of the input, as it is without the editor.
        if (e.len == 0) return Outcome::EndOfInput;
        if (e.cur == e.len)
            bell();
        else
            removechars(e, e.cur, 1);
        break;
    case K_BACKSPACE:
    case K_BACKSPACE2:
        if (e.cur > 0) removechars(e, --e.cur, 1);
        break;
    case K_CLEAREOL: e.len = e.cur; break;
    case K_CLEAR:
    case K_CLEAR2: e.len = e.cur = 0; break;
    case K_UNDO: setline(e, e.undo); break;
    case K_REDRAW: redraw(e); break;
    case K_INSERT: e.insMode = !e.insMode; break;
    case K_MATCH: tomatch(e); break;
    case K_UP:
    case K_DOWN:
    case K_FIND: historykey(e, k, 1); break;
    case K_ESCAPE:
        e.mode = Mode::VI_MODE;
        e.escaped = true;
        e.escCur = e.cur;
        oncharacter(e);
        break;
    case K_DOS_EXIT: break;
    case K_TAB:
        for (int n = 4 - e.cur % 4; n > 0; n--)
            typechar(e, ' ');
        break;
    default:
        if (k >= ' ' && k <= '~')
            typechar(e, k);
        else
            bell();
    }
    return Outcome::Go;
}

// f, F, r and d take the key that follows them.
static void pendingkey(LineEdit &e, int op, int k, int n) {
    switch (op) {
    case 'f':
    case 'F': {
        lastFindChar = k;
        lastFindDir = op == 'f' ? 1 : -1;
        int at = e.cur;
        for (int i = 0; i < n && at >= 0; i++) {
            for (at += lastFindDir; at >= 0 && at < e.len && e.text[at] != k; at += lastFindDir) {
            }
            if (at >= e.len) at = -1;
        }
        if (at < 0)
            bell();
        else
            e.cur = at;
        break;
    }
    case 'r':
        if (e.cur < e.len && k >= ' ' && k <= '~')
            e.text[e.cur] = (char)k;
        else
            bell();
        break;
    case 'd':
        if (k == 'h' || k == K_LEFT) {
            int m = std::min(n, e.cur);
            e.cur -= m;
            removechars(e, e.cur, m);
        } else if (k == '$' || k == K_END) {
            e.len = e.cur;
        } else if (k == 'l' || k == ' ' || k == K_RIGHT) {
            removechars(e, e.cur, n);
        } else if (k == 'd') {
            e.len = e.cur = 0;
        } else {
            bell();
        }
        break;
    }
}

static Outcome vikey(LineEdit &e, int k) {
    bool escaped = e.escaped;
    e.escaped = false;
    if (e.pending != 0) {
        int op = e.pending;
        e.pending = 0;
        pendingkey(e, op, k, e.pendcount);
        oncharacter(e);
        return Outcome::Go;
    }
    if (k == '[') {
        // Escape and "[" from text mode are an arrow key of text mode.
        if (escaped) e.cur = e.escCur;
        e.mode = escaped ? Mode::ARROW_MODE : Mode::VI_ARROW_MODE;
        e.arrowRun = false;
        return Outcome::Go;
    }
    if ((k >= '1' && k <= '9') || (k == '0' && e.count > 0)) {
        e.count = (e.count * 10 + k - '0') % 1000;
        return Outcome::Go;
    }
    int n = e.count > 0 ? e.count : 1;
    e.count = 0;
    int last = std::max(e.len - 1, 0);
    switch (k) {
    case ' ':
    case 'l': e.cur = std::min(e.cur + n, last); break;
    case 'h': e.cur = std::max(e.cur - n, 0); break;
    case '0':
    case '^': e.cur = 0; break;
    case '$': e.cur = last; break;
    case 'w':
        for (int i = 0; i < n; i++)
            e.cur = wordright(e, e.cur);
        break;
    case 'b':
        for (int i = 0; i < n; i++)
            e.cur = wordleft(e, e.cur);
        break;
    case 'f':
    case 'F':
    case 'r':
    case 'd':
        e.pending = k;
        e.pendcount = n;
        break;
    case ';':
    case ',': {
        int dir = k == ';' ? lastFindDir : -lastFindDir;
        if (lastFindChar == 0) {
            bell();
            break;
        }
        int keep = lastFindDir;
        pendingkey(e, dir > 0 ? 'f' : 'F', lastFindChar, n);
        lastFindDir = keep;
        break;
    }
    case '%': tomatch(e); break;
    case 'x': removechars(e, e.cur, n); break;
    case 'X': {
        int m = std::min(n, e.cur);
        e.cur -= m;
        removechars(e, e.cur, m);
        break;
    }
    case 'D': e.len = e.cur; break;
    case 'C':
        e.len = e.cur;
        totext(e, 1);
        break;
    case 's':
        removechars(e, e.cur, n);
        totext(e, 1);
        break;
    case 'S':
        e.len = e.cur = 0;
        totext(e, 1);
        break;
    case 'R': totext(e, 0); break;
    case 'i': totext(e, 1); break;
    case 'a':
        e.cur = std::min(e.cur + 1, e.len);
        totext(e, 1);
        break;
    case 'I':
        e.cur = 0;
        totext(e, 1);
        break;
    case 'A':
        e.cur = e.len;
        totext(e, 1);
        break;
    case 'j':
    case 'k': historykey(e, k == 'k' ? K_UP : K_DOWN, n); break;
    case '?':
        historykey(e, K_FIND, 1);
        totext(e, 1);
        break;
    case 'U': setline(e, e.undo); break;
    case K_INSERT: totext(e, !e.insMode); break;
    case K_ESCAPE: e.mode = Mode::VI_WAIT_MODE; break;
    default: bell();
    }
    if (e.mode == Mode::VI_MODE) oncharacter(e);
    return Outcome::Go;
}

// What the letter of an arrow key, after escape and "[", stands for in text mode and in the
// modal set.
struct ArrowKey {
    char letter;
    int text, modal;
};
static constexpr ArrowKey ArrowKeys[] = {{'A', K_UP, 'k'},
                                         {'B', K_DOWN, 'j'},
                                         {'C', K_RIGHT, 'l'},
                                         {'D', K_LEFT, 'h'},
                                         {'H', K_HOME, '^'}};

// After escape and "[": a letter, or a run of digits (with the ";" between parameters) that
// is taken together with the key after it.
static Outcome arrowkey(LineEdit &e, int k) {
    bool modal = e.mode == Mode::VI_ARROW_MODE;
    if ((k >= '0' && k <= '9') || k == ';') {
        e.arrowRun = true;
        return Outcome::Go;
    }
    e.mode = modal ? Mode::VI_MODE : Mode::TEXT_MODE;
    if (e.arrowRun) {
        e.arrowRun = false;
        if (k == '~') bell();
        return Outcome::Go;
    }
    for (const ArrowKey &a : ArrowKeys)
        if (a.letter == k) return modal ? vikey(e, a.modal) : textkey(e, a.text);
    bell();
    return Outcome::Go;
}

static Outcome editkey(LineEdit &e, int k) {
    if (k == K_ENTER) return Outcome::Enter;
    bool searching = k == K_FIND || (k == '?' && e.mode == Mode::VI_MODE);
    Outcome o = Outcome::Go;
    switch (e.mode) {
    case Mode::TEXT_MODE: o = textkey(e, k); break;
    case Mode::VI_WAIT_MODE:
        e.mode = Mode::VI_MODE;
        if (k == '[') {
            e.mode = Mode::VI_ARROW_MODE;
            e.arrowRun = false;
            break;
        }
        o = vikey(e, k);
        break;
    case Mode::VI_MODE: o = vikey(e, k); break;
    case Mode::ARROW_MODE:
    case Mode::VI_ARROW_MODE: o = arrowkey(e, k); break;
    }
    if (!searching) e.searched = false;
    e.text[e.len] = 0;
    return o;
}

// ---------------------------------------------------------------------------
// Editing one line

// Edits a line after the prompt into inString; false at the end of the input.
static bool editline(int fd, const char *prompt) {
    FlushOutput();
    LineEdit e{};
    e.mode = Mode::TEXT_MODE;
    e.insMode = 1;
    e.slot = histNext;
    Outcome o = Outcome::Go;
    {
        // The settings change first: once the prompt shows, every key goes to the editor.
        EditingSettings settings(fd);
        layout(e, prompt, true);
        WriteChar('\r');
        WriteString(e.prompt);
        // An interrupt while a line is typed drops the line; it is meant for the prompt,
        // not for a computation, so the debugger is not called for.
        int debug = DebugLevel, now = InterruptNow;
        while (o == Outcome::Go) {
            Pull p = pullkeys(fd, false);
            if (numPushed == 0) {
                refresh(e);
                FlushOutput();
                p = pullkeys(fd, true);
            }
            if (DebugLevel != debug || InterruptNow != now) {
                DebugLevel = debug;
                InterruptNow = now;
                WriteString("\r\n");
                FlushOutput();
                lumbra_jump(Main);
            }
            if (resized) {
                resized = 0;
                layout(e, prompt, false);
                redraw(e);
            }
            if (resumed) {
                resumed = 0;
                redraw(e);
            }
            if (numPushed == 0) {
                if (p == Pull::End) o = Outcome::EndOfInput;
                continue;
            }
            o = editkey(e, popkey());
        }
        refresh(e);
    }
    WriteChar('\n');
    FlushOutput();
    if (o == Outcome::EndOfInput) return false;
    strcpy(history[histNext], e.text);
    histNext = (histNext + 1) % QLINES;
    memcpy(inString, e.text, (size_t)e.len);
    inLength = e.len;
    // A full line goes on in the next one: no newline is delivered after it.
    if (e.len < MAXLINE) inString[inLength++] = '\n';
    return true;
}

// ---------------------------------------------------------------------------
// Delivering lines

int ReadCharFromUser(const char *prompt) {
    FILE *f = R_unit;
    if (f == nullptr) return -1;
    if (f != inSource) newsource(f);
    while (nextCharFromUser >= inLength) {
        nextCharFromUser = 0;
        inLength = 0;
        bool edit = inEdited && captureterminal(fileno(f));
        if (!edit && prompt[0] != 0) {
            WriteString(prompt);
            FlushOutput();
        }
        bool ok = edit ? editline(fileno(f), prompt) : directline(f);
        if (!ok) {
            nextCharFromUser = NONELEFT;
            return -1;
        }
    }
    return (unsigned char)inString[nextCharFromUser++];
}

int ReadLineFromCmdEdit(char *s, int n, const char *prompt) {
    int k = 0;
    while (k < n - 1) {
        int c = ReadCharFromUser(prompt);
        if (c < 0) break;
        s[k++] = (char)c;
        if (c == '\n') break;
    }
    if (n > 0) s[k] = 0;
    return k > 0;
}

void DiscardRestOfLine() { nextCharFromUser = NONELEFT; }

void DiscardRestOfFile() {
    FILE *f = R_unit;
    if (f == nullptr) return;
    if (f != inSource) newsource(f);
    if (inTerminal) return;
    skiprest(f);
    nextCharFromUser = NONELEFT;
}
