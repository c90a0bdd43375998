// The client, run as a program, against what it may find at its pipe path,
// what its caller hands over, and what the service does.
#include "client_fixture.hpp"
#include "fifo_ends.hpp"
#include "files.hpp"
#include "open_watch.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
constexpr milliseconds bound = test_config::client_pipe_bound;

class client_pipe : public client_fixture {};

TEST_F(client_pipe, two_runs_arrive_in_order)
{
    fifo_reader reader(pipe);
    expect_quiet_end(run_client({"resume_music"}), 0);
    expect_quiet_end(run_client({"stop_music"}), 0);
    EXPECT_EQ(reader.take(), "10");
}

TEST_F(client_pipe, missing_pipe_is_not_created)
{
    ASSERT_EQ(unlink(pipe.c_str()), 0);
    expect_quiet_end(run_client({"resume_music"}), 0);
    EXPECT_EQ(entries_in(sock_dir), 0);

    ASSERT_EQ(rmdir(sock_dir.c_str()), 0);
    expect_quiet_end(run_client({"stop_music"}), 0);
    EXPECT_EQ(entries_in(dir.path()), 0);
}

// The client as strace runs it with `options`, its trace written to
// `trace`; no options, no strace. Under an emulator strace acts on the
// emulator's calls, the client's among them.
command_line traced(const std::string& options, const std::string& trace, const command_line& command)
{
    if (options.empty())
        return command;
    std::vector<std::string> runner{"strace", "-f", "-o", trace, "-e", "quiet=all"};
    std::istringstream words(options);
    for (std::string word; words >> word;)
        runner.push_back(word);
    return run_by(runner, command);
}

// Why strace cannot run the client here with `options`; empty when it can.
std::string why_strace_cannot(const std::string& options, bool acts_on_the_emulator)
{
    if (options.empty())
        return "";
    if (test_config::client_sanitized)
        return "LeakSanitizer cannot run under ptrace";
    if (std::system("strace -V >/dev/null 2>&1") != 0)
        return "strace is not installed";
    if (acts_on_the_emulator && emulated())
        return "it would act on the emulator's own calls";
    return "";
}

// Where strace's -P sees the client's pipe, by its path and through /proc
// (the client's first descriptors), so that only those calls count.
const std::string at_the_pipe =
    std::string("-P ") + test_config::client_pipe_path +
    " -P /proc/self/fd/3 -P /proc/self/fd/4 -P /proc/self/fd/5 -P /proc/self/fd/6";

// What the test does to a client that waits for a reader; gives when it
// let a stopped client go on.
using let_go_at = std::optional<steady_clock::time_point>;
using meddling = let_go_at (*)(child_process&);

let_go_at leave_alone(child_process&)
{
    return std::nullopt;
}

let_go_at send_sigalrm(child_process& client)
{
    for (int sent = 0; sent < 4; ++sent) {
        std::this_thread::sleep_for(bound / 5);
        client.send(SIGALRM);
    }
    return std::nullopt;
}

// Stopped early in the wait, continued well past the deadline.
let_go_at stop_past_the_deadline(child_process& client)
{
    std::this_thread::sleep_for(bound / 4);
    client.send(SIGSTOP);
    std::this_thread::sleep_for(bound * 5 / 4);
    const auto continued = steady_clock::now();
    client.send(SIGCONT);
    return continued;
}

struct waiting_case {
    const char* name;   // cppcheck-suppress unusedStructMember ; read by the instantiation's namer
    std::string strace; // strace's options; none, no strace
    bool acts_on_the_emulator;
    meddling meanwhile;
    bool one_open; // strace must see one write-only open in all
    friend std::ostream& operator<<(std::ostream& out, const waiting_case& row) { return out << row.name; }
};

class client_without_a_reader : public client_fixture, public testing::WithParamInterface<waiting_case> {};

TEST_P(client_without_a_reader, gives_up_at_the_bound_whatever_befalls_it)
{
    const waiting_case& given = GetParam();
    if (const std::string why = why_strace_cannot(given.strace, given.acts_on_the_emulator); !why.empty())
        GTEST_SKIP() << why;
    const std::string trace = dir / "trace";
    const command_line command = traced(given.strace, trace, client_command({"resume_music"}));
    child_process client(command, dir.path());
    child_process beside = sleep_beside();
    const let_go_at let_go = given.meanwhile(client);
    const run_result result = client.wait(bound + std::chrono::seconds(10));
    const auto ended = steady_clock::now();
    const std::string calls = given.one_open ? read_file(trace) : "";
    const run_result control = control_run(command);

    expect_quiet_end(result, 0);
    EXPECT_GE(result.elapsed, bound - milliseconds(5)) << "gave up before the bound";
    // Kept past its deadline on purpose, a client shows in other ways that
    // it ends there.
    if (let_go) {
        EXPECT_LE(ended - *let_go, allowed_beyond_the_bound(control)) << "ran on past its deadline";
    } else if (given.one_open) {
        EXPECT_NE(calls.find("O_WRONLY"), std::string::npos) << calls;
        EXPECT_EQ(calls.find("O_WRONLY"), calls.rfind("O_WRONLY")) << calls;
    } else {
        expect_waited_out_the_bound(result, beside.wait(), control);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(meanwhile, client_without_a_reader, testing::Values(
    waiting_case{"left_alone", "", false, leave_alone, false},
    waiting_case{"sent_sigalrm", "", false, send_sigalrm, false},
    waiting_case{"sent_sigalrm_as_main_begins", "-e inject=rt_sigaction:signal=SIGALRM:when=1", true, leave_alone, false},
    waiting_case{"stopped_past_its_deadline", "", false, stop_past_the_deadline, false},
    // Each call held 15 ms on its way out: longer than the gap a tick could
    // fall into unseen.
    waiting_case{"held_as_it_arms_its_timer", "-e inject=setitimer:delay_exit=15000", false, leave_alone, false},
    waiting_case{"held_at_every_call", "-e inject=!rt_sigreturn:delay_exit=15000", true, leave_alone, false},
    waiting_case{"interrupted_at_its_first_lookup", at_the_pipe + " -e inject=openat:error=EINTR:when=1",
                 false, leave_alone, false},
    // Its first look again at the path (its second fstat there) ends past
    // the deadline: no blocking open may follow the one before it.
    waiting_case{"held_past_its_deadline_as_it_looks_again",
                 at_the_pipe + " -e inject=%fstat:when=2:delay_exit=" +
                     std::to_string(std::chrono::microseconds(bound * 6 / 5).count()),
                 false, leave_alone, true}),
    [](const testing::TestParamInfo<waiting_case>& param_info) { return std::string(param_info.param.name); });
// clang-format on

// How the service comes to a client that waits for a reader: it opens the
// FIFO the client waits on, or, restarting, makes its FIFO anew, at once,
// after a moment with no FIFO at the path, or while the client is stopped
// across its deadline, so that the client finds it only past its deadline.
enum class service_comes { to_its_fifo, anew, anew_later, anew_across_the_deadline };

struct coming_case {
    const char* name; // cppcheck-suppress unusedStructMember ; read by the instantiation's namer
    service_comes how;
    const char* caller; // careless_caller's state; none when null
    std::string strace; // strace's options; none, no strace
    friend std::ostream& operator<<(std::ostream& out, const coming_case& row) { return out << row.name; }
};

class client_waiting : public client_fixture, public testing::WithParamInterface<coming_case> {};

TEST_P(client_waiting, delivers_when_the_service_comes_within_the_bound)
{
    const coming_case& given = GetParam();
    if (const std::string why = why_strace_cannot(given.strace, false); !why.empty())
        GTEST_SKIP() << why;
    if (const std::string why = why_caller_cannot_be(given.caller); !why.empty())
        GTEST_SKIP() << why;
    command_line command = client_command({"stop_music"});
    if (given.caller != nullptr)
        command = from_careless_caller(given.caller, command);
    child_process client(traced(given.strace, dir / "trace", command), dir.path());
    // Long enough for the client to be waiting in its open, short of the bound.
    std::this_thread::sleep_for(bound / 2);
    if (given.how == service_comes::anew_across_the_deadline)
        client.send(SIGSTOP);
    if (given.how != service_comes::to_its_fifo) {
        ASSERT_EQ(unlink(pipe.c_str()), 0);
        if (given.how == service_comes::anew_later)
            std::this_thread::sleep_for(bound / 10);
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    }
    fifo_reader reader(pipe);
    if (given.how == service_comes::anew_across_the_deadline) {
        std::this_thread::sleep_for(bound);
        client.send(SIGCONT);
    }
    expect_quiet_end(client.wait(), 0);
    EXPECT_EQ(reader.take(), "0");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(service, client_waiting, testing::Values(
    coming_case{"to_its_fifo", service_comes::to_its_fifo, nullptr, ""},
    coming_case{"with_a_new_fifo", service_comes::anew, nullptr, ""},
    coming_case{"with_a_new_fifo_later", service_comes::anew_later, nullptr, ""},
    coming_case{"with_a_new_fifo_later_and_proc_denied", service_comes::anew_later, "proc_denied", ""},
    coming_case{"with_a_new_fifo_later_and_proc_forged", service_comes::anew_later, "proc_forged", ""},
    coming_case{"with_a_new_fifo_found_past_the_deadline", service_comes::anew_across_the_deadline, nullptr, ""},
    // A tick comes during its first look again.
    coming_case{"with_a_new_fifo_to_a_held_client", service_comes::anew, nullptr, "-e inject=%fstat:delay_exit=15000"}),
    [](const testing::TestParamInfo<coming_case>& param_info) { return std::string(param_info.param.name); });
// clang-format on

// A full pipe holds the client in its write until the last reader leaves,
// which fails the write with EPIPE and raises SIGPIPE. The client then waits
// within its bound for the service to come back.
class client_reader_leaves : public client_fixture, public testing::WithParamInterface<bool> {};

TEST_P(client_reader_leaves, mid_write_and_the_command_goes_to_the_next_reader_once)
{
    const bool comes_back = GetParam();
    auto reader = std::make_unique<fifo_reader>(pipe);
    fifo_filler filler(pipe);
    open_watch watch(pipe);
    child_process client(client_command({"resume_music"}), dir.path());
    child_process beside = sleep_beside();
    ASSERT_EQ(watch.opens(std::chrono::seconds(5)), 1);
    std::this_thread::sleep_for(bound / 4);
    // The filler goes first, so that once the client has closed its failed
    // descriptor no end is open and the kernel drops the filling.
    filler.close();
    const int closed_before = watch.write_closes();
    reader.reset();

    std::unique_ptr<fifo_reader> next;
    if (comes_back) {
        // Once the client has let go of its failed descriptor: waiting on a
        // clock here would fail whenever the test itself ran late.
        for (int tries = 0; watch.write_closes() == closed_before && tries < 5000; ++tries)
            std::this_thread::sleep_for(milliseconds(1));
        next = std::make_unique<fifo_reader>(pipe);
    }
    const run_result result = client.wait();
    expect_quiet_end(result, 0);
    if (comes_back)
        EXPECT_EQ(next->take(), "1");
    else
        expect_waited_out_the_bound(result, beside.wait(), control_run(client_command({"resume_music"})));
}

INSTANTIATE_TEST_SUITE_P(service, client_reader_leaves, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& param_info) {
                             return param_info.param ? "comes_back" : "stays_away";
                         });

TEST_F(client_pipe, regular_file_and_directory_are_left_untouched)
{
    ASSERT_EQ(unlink(pipe.c_str()), 0);
    write_file(pipe, "hello");
    const file_state before = state_of(pipe);
    open_watch watch(pipe);
    expect_quiet_end(run_client({"resume_music"}), 0);
    EXPECT_EQ(watch.opens(), 0) << "the regular file was opened"; // before the read below opens it
    EXPECT_TRUE(state_of(pipe) == before) << "the regular file was changed";

    ASSERT_EQ(unlink(pipe.c_str()), 0);
    ASSERT_EQ(mkdir(pipe.c_str(), 0755), 0);
    expect_quiet_end(run_client({"stop_music"}), 0);
    EXPECT_EQ(entries_in(pipe), 0);
}

TEST_F(client_pipe, pipe_the_caller_may_not_write_is_quietly_skipped)
{
    fifo_reader reader(pipe);
    expect_quiet_end(run(refused_client_command({"resume_music"}), dir.path()), 0);
    EXPECT_EQ(reader.take(), "");
}

TEST_F(client_pipe, pipe_with_a_timestamp_past_2038_is_written)
{
    const timespec in_2040[2] = {{2'208'988'800, 0}, {2'208'988'800, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, pipe.c_str(), in_2040, 0), 0);
    fifo_reader reader(pipe);
    expect_quiet_end(run_client({"resume_music"}), 0);
    EXPECT_EQ(reader.take(), "1");
}

// Unmounts on the way out, failed assertions included.
class mounted {
public:
    mounted(const std::string& what, const std::string& at, const std::string& type,
            const std::string& options)
        : at_(at), ok_(mount(what.c_str(), at.c_str(), type.c_str(), 0, options.c_str()) == 0)
    {
    }
    ~mounted()
    {
        if (ok_)
            umount(at_.c_str());
    }
    mounted(const mounted&) = delete;
    mounted& operator=(const mounted&) = delete;
    bool ok() const { return ok_; }

private:
    std::string at_;
    bool ok_;
};

TEST_F(client_pipe, pipe_with_an_inode_number_past_32_bits_is_written)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting the overlay that numbers inodes past 32 bits needs root";
    // An overlay with xino numbers the files of a lower layer on another file
    // system above 2^32.
    for (const char* layer : {"lower", "upper", "work", "merged"})
        ASSERT_EQ(mkdir((dir / layer).c_str(), 0755), 0);
    const mounted lower("tmpfs", dir / "lower", "tmpfs", "mode=0755");
    if (!lower.ok())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    ASSERT_EQ(mkdir((dir / "lower/sock").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir / "lower/sock/morvelin.fifo").c_str(), 0600), 0);
    const mounted merged("overlay", dir / "merged", "overlay",
                         "lowerdir=" + (dir / "lower") + ",upperdir=" + (dir / "upper") +
                             ",workdir=" + (dir / "work") + ",xino=on");
    if (!merged.ok())
        GTEST_SKIP() << "cannot mount an overlay here: " << std::strerror(errno);
    const std::string merged_pipe = dir / "merged/sock/morvelin.fifo";
    struct stat status {};
    ASSERT_EQ(stat(merged_pipe.c_str(), &status), 0);
    if (status.st_ino <= 0xffff'ffffU)
        GTEST_SKIP() << "this kernel's overlay numbers the pipe " << status.st_ino;

    fifo_reader reader(merged_pipe);
    expect_quiet_end(run(client_command({"resume_music"}), dir / "merged"), 0);
    EXPECT_EQ(reader.take(), "1");
}

// Process state that survives exec, set up by a careless caller.
struct inherited_case {
    const char* state;
    std::vector<std::string> args;
    int status;
    const char* sent; // to a reader that holds the pipe; none when null
};

class client_inherited_state : public client_fixture, public testing::WithParamInterface<inherited_case> {};

TEST_P(client_inherited_state, keeps_the_bound_and_stays_quiet)
{
    const inherited_case& given = GetParam();
    if (const std::string why = why_caller_cannot_be(given.state); !why.empty())
        GTEST_SKIP() << why;
    std::unique_ptr<fifo_reader> reader;
    if (given.sent != nullptr)
        reader = std::make_unique<fifo_reader>(pipe);
    const command_line command = from_careless_caller(given.state, client_command(given.args));
    child_process client(command, dir.path());
    child_process beside = sleep_beside();
    const run_result result = client.wait(bound + std::chrono::seconds(5));

    expect_quiet_end(result, given.status);
    if (reader != nullptr)
        EXPECT_EQ(reader->take(), given.sent);
    else if (!given.args.empty())
        expect_waited_out_the_bound(result, beside.wait(), control_run(command));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(from_exec, client_inherited_state, testing::Values(
    inherited_case{"blocked", {"resume_music"}, 0, nullptr},
    inherited_case{"ignored", {"resume_music"}, 0, nullptr},
    inherited_case{"pending", {"resume_music"}, 0, nullptr},
    inherited_case{"timer", {"resume_music"}, 0, nullptr},
    inherited_case{"timer_full_stdout", {}, 255, nullptr},
    inherited_case{"closed_stdio", {"stop_music"}, 0, "0"},
    inherited_case{"no_file_size", {}, 255, nullptr},
    inherited_case{"proc_denied", {"resume_music"}, 0, "1"},
    inherited_case{"proc_forged", {"resume_music"}, 0, "1"}),
    [](const testing::TestParamInfo<inherited_case>& param_info) { return std::string(param_info.param.state); });
// clang-format on

// A swap between a look at the path and an open would land the open on the
// file: the client must open only the FIFO it found, also when that FIFO
// refuses the caller. Last in this file: on the one-processor ARM guests the
// rename storm can stall the next few seconds, which would fail a test of
// the bound that followed (it fails the same way with every writer).
class client_swapped : public client_fixture, public testing::WithParamInterface<bool> {};

TEST_P(client_swapped, file_swapped_in_for_the_fifo_is_never_opened)
{
    const bool refused = GetParam();
    fifo_reader reader(pipe);
    const command_line command =
        refused ? refused_client_command({"resume_music"}) : client_command({"resume_music"});
    const std::string decoy = sock_dir + "/decoy";
    write_file(decoy, "hello");
    ASSERT_EQ(chmod(decoy.c_str(), 0666), 0); // open to whoever the client runs as
    const file_state before = state_of(decoy);
    open_watch watch(decoy);
    std::atomic<bool> swapping = true;
    std::atomic<long> swaps = 0;
    std::thread swapper([&] {
        while (swapping && renameat2(AT_FDCWD, pipe.c_str(), AT_FDCWD, decoy.c_str(), RENAME_EXCHANGE) == 0)
            ++swaps;
    });
    for (int delivery = 0; delivery < 40; ++delivery)
        expect_quiet_end(run(command, dir.path()), 0);
    swapping = false;
    swapper.join();

    EXPECT_GT(swaps, 0) << "the names were never swapped";
    EXPECT_EQ(watch.opens(), 0) << "the file was opened";
    EXPECT_EQ(watch.write_closes(), 0) << "the file was opened for writing";
    EXPECT_TRUE(state_of(is_fifo(pipe) ? decoy : pipe) == before) << "the file was changed";
    EXPECT_EQ(reader.take().empty(), refused)
        << (refused ? "a refused caller delivered" : "nothing was delivered");
}

INSTANTIATE_TEST_SUITE_P(caller, client_swapped, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& param_info) {
                             return param_info.param ? "refused" : "allowed";
                         });

} // namespace
