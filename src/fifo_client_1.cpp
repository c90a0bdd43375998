// fifo_client_1: tells the music service to resume or stop playing by
// writing one command byte into its control pipe.
#include "control_pipe.hpp"

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

struct action {
    const char* keyword;
    const char* help;
    pipe_command command;
};

// Also the order of the help lines and of matching.
constexpr action actions[] = {
    {"resume_music", "resume play music.", resume_command},
    {"stop_music", "stop play music.", stop_command},
};

// Shown when the system passes no program name at all.
constexpr const char fallback_program_name[] = "fifo_client_1";

// Whether `typed` is `keyword`, byte by byte, to the end of both. Written
// out: strcmp would be one more symbol for the loader to bind at start-up.
bool is_keyword(const char* typed, const char* keyword)
{
    while (*keyword != '\0' && *typed == *keyword) {
        ++typed;
        ++keyword;
    }
    return *typed == *keyword;
}

const action* find_action(const char* typed)
{
    const action* found = std::ranges::find_if(
        actions, [typed](const action& candidate) { return is_keyword(typed, candidate.keyword); });
    return found != std::ranges::end(actions) ? found : nullptr;
}

void ignore_signal(int signal_number)
{
    // In static storage, so zeroed before the program starts: no flags, an
    // empty mask. Zeroing one on the stack costs ARM builds an import of
    // memset, one more symbol for the loader to bind at start-up.
    static struct sigaction ignore;
    ignore.sa_handler = SIG_IGN;
    // Cannot fail for a valid signal number.
    (void)sigaction(signal_number, &ignore, nullptr);
}

// Output that cannot be written is dropped: the exit status already tells
// the caller what happened. That includes a standard output redirected to a
// file beyond the caller's file size limit, which would otherwise kill the
// client with SIGXFSZ. A standard output that blocks may hold the client
// until a real-time timer the caller left armed fires: ignored, its SIGALRM
// does not cut the output short as the tick handler would. Only the paths
// that print pay for that.
void prepare_output()
{
    ignore_signal(SIGXFSZ);
    ignore_signal(SIGALRM);
}

void print_usage(const char* program_name)
{
    if (program_name == nullptr)
        program_name = fallback_program_name;
    prepare_output();
    std::printf("Usage:%s action\n", program_name);
    for (const action& each : actions)
        std::printf("\t%s\t%s\n", each.keyword, each.help);
}

void print_unsupported()
{
    prepare_output();
    // Not a plain line, which GCC and Clang turn into puts: one more symbol
    // for the loader to bind at start-up, which printf already pays for.
    std::printf("%s%c", "Not support this action!", '\n');
}

} // namespace

int main(int argc, char* argv[])
{
    // First of all: from here on a SIGALRM from outside cannot kill the
    // client, and a reader or a standard output that goes away cannot either.
    install_tick_handler();
    ignore_signal(SIGPIPE);

    if (argc <= 1) {
        print_usage(argc > 0 ? argv[0] : nullptr);
        return -1;
    }

    const action* requested = find_action(argv[1]);
    if (requested == nullptr) {
        print_unsupported();
        return 0;
    }

    send_pipe_command(requested->command);
    return 0;
}
