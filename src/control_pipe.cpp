// The bounded pipe writer. How it works and why: docs/development.md, "How
// the client uses the pipe".
#include "control_pipe.hpp"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#ifndef CONTROL_PIPE_PATH
#error "CONTROL_PIPE_PATH must be set by the build"
#endif
#ifndef CONTROL_PIPE_TIMEOUT_MS
#error "CONTROL_PIPE_TIMEOUT_MS must be set by the build"
#endif

const char control_pipe_path[] = CONTROL_PIPE_PATH;
const int control_pipe_timeout_ms = CONTROL_PIPE_TIMEOUT_MS;
// Checked as the int it became: a value past INT_MAX wraps.
static_assert(control_pipe_timeout_ms > 0, "the bound must be a positive int of milliseconds");

// For `strings` to show what a copied executable was built for.
#define FIFO_CLIENT_TEXT(x) #x
#define FIFO_CLIENT_NUMBER_TEXT(x) FIFO_CLIENT_TEXT(x)
[[gnu::used]] constexpr char built_for[] = "fifo_client_1 built for pipe " CONTROL_PIPE_PATH
                                           ", bound " FIFO_CLIENT_NUMBER_TEXT(CONTROL_PIPE_TIMEOUT_MS) " ms";

namespace {

// How often a waiting client wakes to look at the clock and at the path.
constexpr int tick_ms = 60;
constexpr itimerval timer_off{};

// Zeroed in static storage: on ARM, zeroing one on the stack imports memset.
sigset_t alarm_only;

// Only has to exist: its signal ends a blocked call with EINTR.
void on_tick(int) {}

bool passed(const timespec& moment)
{
    timespec now; // filled by clock_gettime
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return true;
    return now.tv_sec > moment.tv_sec || (now.tv_sec == moment.tv_sec && now.tv_nsec >= moment.tv_nsec);
}

// Sets `moment` to `ms` from now; false when the clock cannot be read.
bool set_in(int ms, timespec& moment)
{
    if (clock_gettime(CLOCK_MONOTONIC, &moment) != 0)
        return false;
    moment.tv_sec += ms / 1000;
    moment.tv_nsec += (ms % 1000) * 1'000'000L;
    if (moment.tv_nsec >= 1'000'000'000L) {
        moment.tv_nsec -= 1'000'000'000L;
        ++moment.tv_sec;
    }
    return true;
}

bool start_ticking(int timeout_ms, timespec& deadline)
{
    // Only SIGALRM is unblocked; the rest of the caller's mask stays.
    sigaddset(&alarm_only, SIGALRM);
    if (timeout_ms <= 0 || sigprocmask(SIG_UNBLOCK, &alarm_only, nullptr) != 0 ||
        !set_in(timeout_ms, deadline))
        return false;
    // Replaces any timer the caller left armed. The first tick takes what the
    // bound holds beyond whole ticks, so that the last falls on the deadline.
    const int first_ms = timeout_ms % tick_ms != 0 ? timeout_ms % tick_ms : tick_ms;
    const itimerval ticking{.it_interval = {.tv_sec = 0, .tv_usec = tick_ms * 1000},
                            .it_value = {.tv_sec = 0, .tv_usec = first_ms * 1000}};
    return setitimer(ITIMER_REAL, &ticking, nullptr) == 0;
}

// A FIFO found at the path: a handle that opens nothing, and which inode.
struct fifo_found {
    int handle = -1;
    dev_t device = 0;
    ino_t inode = 0;
};

bool holds(int fd, const fifo_found& found)
{
    struct stat status; // filled by fstat
    return fstat(fd, &status) == 0 && status.st_dev == found.device && status.st_ino == found.inode;
}

enum class lookup { fifo, no_fifo, interrupted };

// O_PATH opens nothing, so a file or device at the path sees no open.
lookup look_up(const char* path, fifo_found& found)
{
    const int handle = open(path, O_PATH | O_CLOEXEC);
    if (handle < 0)
        return errno == EINTR ? lookup::interrupted : lookup::no_fifo;
    struct stat status; // filled by fstat
    if (fstat(handle, &status) != 0 || !S_ISFIFO(status.st_mode)) {
        (void)close(handle);
        return lookup::no_fifo;
    }
    found = {handle, status.st_dev, status.st_ino};
    return lookup::fifo;
}

// A service that restarts may make its FIFO anew and read only the new one.
// A path with no FIFO on it for the moment changes nothing. Gives whether
// `found` is now another FIFO.
bool follow(const char* path, fifo_found& found)
{
    fifo_found now;
    if (look_up(path, now) != lookup::fifo)
        return false;
    const bool moved = now.device != found.device || now.inode != found.inode;
    (void)close(moved ? found.handle : now.handle);
    if (moved)
        found = now;
    return moved;
}

bool leads_to(const char* name, const fifo_found& found)
{
    const int handle = open(name, O_PATH | O_CLOEXEC);
    const bool there = handle >= 0 && holds(handle, found);
    if (handle >= 0)
        (void)close(handle);
    return there;
}

// "/proc/self/fd/N": opening it opens the inode that descriptor N holds,
// with no second lookup of the path. Formatted by hand: snprintf would be
// one more import for the loader to bind at start-up.
class descriptor_name {
public:
    explicit descriptor_name(int fd)
    {
        unsigned digits = 1;
        for (auto rest = static_cast<unsigned>(fd); rest >= 10; rest /= 10)
            ++digits;
        char* digit = text_ + sizeof prefix - 1 + digits;
        *digit = '\0';
        for (auto rest = static_cast<unsigned>(fd); digits-- > 0; rest /= 10)
            *--digit = static_cast<char>('0' + rest % 10);
    }
    const char* c_str() const { return text_; }

private:
    static constexpr char prefix[] = "/proc/self/fd/";
    char text_[sizeof prefix + 10] = "/proc/self/fd/"; // and ten digits at most
};

// Without /proc, a path that leads elsewhere leaves nothing to block on: the
// client waits for the next tick itself. SIGALRM is held back while it looks
// at the clock, so that a tick in between ends the wait at once.
void wait_for_a_tick(const timespec& limit)
{
    sigset_t waiting; // filled by sigprocmask: the mask with SIGALRM let through
    if (sigprocmask(SIG_BLOCK, &alarm_only, &waiting) != 0)
        return;
    if (!passed(limit))
        (void)sigsuspend(&waiting);
    (void)sigprocmask(SIG_UNBLOCK, &alarm_only, nullptr);
}

// What one try at the FIFO found came to.
enum class step {
    delivered,
    refused,
    unanswered, // no reader took it yet: a tick came, or the reader left
    lost,       // the name no longer leads to the FIFO found
};

// A plain blocking write-only open, which a reader or a tick ends; kept only
// when it holds the FIFO found. Gives the descriptor, or -1 and why.
int open_if_found(const char* name, const fifo_found& found, const timespec& limit, step& failure)
{
    failure = step::unanswered;
    if (passed(limit))
        return -1;
    const int fd = open(name, O_WRONLY);
    if (fd >= 0 && holds(fd, found))
        return fd;
    if (fd < 0 && errno == EINTR)
        return -1;
    if (fd >= 0)
        (void)close(fd);
    // A refusal by the FIFO itself (permissions) is final: its path would
    // meet the same.
    failure = fd < 0 && leads_to(name, found) ? step::refused : step::lost;
    return -1;
}

step try_once(const fifo_found& found, const char* path, pipe_command command, const timespec& limit)
{
    step failure = step::unanswered;
    int fd = open_if_found(descriptor_name(found.handle).c_str(), found, limit, failure);
    // No usable /proc (none mounted, one the caller may not enter, one not
    // the kernel's): the path, when it leads to the FIFO found, so that only
    // a swap between the two calls could have anything else opened.
    if (fd < 0 && failure == step::lost && leads_to(path, found))
        fd = open_if_found(path, found, limit, failure);
    if (fd < 0)
        return failure;
    if (passed(limit)) {
        (void)close(fd);
        return step::unanswered;
    }
    const ssize_t written = write(fd, command.data(), command.size());
    // A one-byte pipe write is all or nothing: one a tick ended, or one whose
    // reader left (EPIPE, SIGPIPE being ignored), put nothing in.
    const bool unanswered = written < 0 && (errno == EINTR || errno == EPIPE);
    (void)close(fd);
    if (written == static_cast<ssize_t>(command.size()))
        return step::delivered;
    return unanswered ? step::unanswered : step::refused;
}

// Tries until delivered, refused or past the deadline. No failed try wrote
// anything, so the command arrives once or not at all.
delivery_result deliver_before(const timespec& deadline, const char* path, pipe_command command)
{
    // A path with no FIFO is not waited for; only a tick repeats the lookup.
    fifo_found found;
    lookup first = look_up(path, found);
    while (first == lookup::interrupted && !passed(deadline))
        first = look_up(path, found);
    if (first != lookup::fifo)
        return first == lookup::no_fifo ? delivery_result::no_fifo : delivery_result::gave_up;

    timespec limit = deadline;
    step result = step::unanswered;
    for (bool last_try = false;;) {
        result = try_once(found, path, command, limit);
        if (result == step::delivered || result == step::refused)
            break;
        if (result == step::lost)
            wait_for_a_tick(limit);
        const bool moved = follow(path, found);
        if (!passed(deadline))
            continue;
        // One try more, within a tick, for a FIFO made anew since the last look.
        if (last_try || !moved || !set_in(tick_ms, limit))
            break;
        last_try = true;
    }
    (void)close(found.handle);
    return result == step::delivered ? delivery_result::delivered
           : result == step::refused ? delivery_result::refused
                                     : delivery_result::gave_up;
}

} // namespace

void install_tick_handler()
{
    // Zeroed in static storage, as above: an empty mask, and no SA_RESTART,
    // so that a tick ends a blocked open or write. Cannot fail for SIGALRM.
    static struct sigaction tick_handler;
    tick_handler.sa_handler = on_tick;
    (void)sigaction(SIGALRM, &tick_handler, nullptr);
}

delivery_result deliver_pipe_command(const char* path, pipe_command command, int timeout_ms)
{
    // Without a bound a missing reader would hang the caller.
    timespec deadline; // set by start_ticking
    if (!start_ticking(timeout_ms, deadline))
        return delivery_result::gave_up;
    const delivery_result result = deliver_before(deadline, path, command);
    // Cannot fail; if it did, a later tick would only meet the handler.
    (void)setitimer(ITIMER_REAL, &timer_off, nullptr);
    return result;
}

void send_pipe_command(pipe_command command)
{
    (void)deliver_pipe_command(control_pipe_path, command, control_pipe_timeout_ms);
}
