// vestrel-sim's console: lines from a terminal (with libedit's editing and
// history where it was built with it) or from a file, and Ctrl-C, which
// drops the line being typed.
#include <signal.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <string>

#include "sim.h"

#ifdef HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace sim
{
namespace
{

// Ctrl-C at the console: the handler only notes it. SIGINT stays blocked
// except while the console waits for a key, so that a Ctrl-C pressed while a
// line is played is kept for the next prompt and none falls between the test
// of the flag and the wait.
volatile sig_atomic_t g_interrupted = 0;
sigset_t g_waitMask; // the mask in force while waiting: SIGINT let through
// Whether a key was typed since the prompt (known with libedit only).
bool g_typed = false;

void noteInterrupt(int)
{
    g_interrupted = 1;
}

enum class Key { Got, End, Interrupted };

// One byte from the terminal, or the Ctrl-C that came first.
Key waitKey(char &c)
{
    for (;;) {
        if (g_interrupted)
            return Key::Interrupted;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(STDIN_FILENO, &readable);
        int ready = pselect(STDIN_FILENO + 1, &readable, nullptr, nullptr, nullptr, &g_waitMask);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Key::End;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1)
            return Key::Got;
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return Key::End;
    }
}

#ifdef HAVE_LIBEDIT
// libedit's key reader: a Ctrl-C ends the line.
int typedKey(FILE *)
{
    char c;
    if (waitKey(c) != Key::Got)
        return EOF;
    g_typed = true;
    return static_cast<unsigned char>(c);
}
#endif

} // namespace

void catchInterrupts()
{
    struct sigaction action {
    };
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_BLOCK, &interrupt, &g_waitMask);
    sigdelset(&g_waitMask, SIGINT);
#ifdef HAVE_LIBEDIT
    rl_catch_signals = 0; // libedit leaves SIGINT to the handler above
    rl_getc_function = typedKey;
#endif
}

namespace
{

enum class Read { Line, End, Interrupted };

// A terminal line read straight from the descriptor, so that Ctrl-C, which
// the terminal answers by discarding what was typed, ends the read.
Read readTerminal(std::string &line)
{
    line.clear();
    for (;;) {
        char c;
        Key got = waitKey(c);
        if (got == Key::Interrupted)
            return Read::Interrupted;
        if (got == Key::End)
            return line.empty() ? Read::End : Read::Line;
        if (c == '\n')
            return Read::Line;
        line += c;
    }
}

// One line from the console or a file.
Read readLine(std::istream &in, bool terminal, const char *prompt, std::string &line)
{
    g_typed = false;
#ifdef HAVE_LIBEDIT
    if (terminal) {
        char *got = readline(prompt);
        if (g_interrupted) {
            std::free(got);
            return Read::Interrupted;
        }
        if (got == nullptr)
            return Read::End;
        line = got;
        if (*got != '\0')
            add_history(got);
        std::free(got);
        return Read::Line;
    }
#endif
    if (terminal) {
        std::printf("%s", prompt);
        std::fflush(stdout);
        return readTerminal(line);
    }
    return std::getline(in, line) ? Read::Line : Read::End;
}

} // namespace

// The console's loop: lines until quit or the end of input; at a terminal
// Ctrl-C drops the line being typed, and a second one at the empty prompt
// it leaves behind ends the session.
void console(Simulator &sim, std::istream &in, bool terminal, const std::string &name)
{
    std::string line;
    int lineno = 0;
    bool interruptedLast = false;
    while (!sim.quitting()) {
        Read got = readLine(in, terminal, sim.inParams() ? "params> " : "vestrel> ", line);
        if (got == Read::End) {
            if (terminal)
                std::printf("\n"); // the summary goes below the prompt
            break;
        }
        if (got == Read::Interrupted) {
            g_interrupted = 0;
            if (interruptedLast && !g_typed) {
                std::printf("\n");
                break;
            }
            std::printf("\n(the line is dropped; Ctrl-C again, Ctrl-D or quit leaves)\n");
            interruptedLast = true;
            continue;
        }
        interruptedLast = false;
        lineno++;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        sim.play(name + ":" + std::to_string(lineno), line);
        std::fflush(stdout);
    }
    sim.finish(name + ":" + std::to_string(lineno));
}

} // namespace sim
