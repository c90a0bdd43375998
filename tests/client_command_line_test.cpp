// The client's command line, run as a program: usage, matching, exit status.
#include "client_fixture.hpp"
#include "fifo_ends.hpp"
#include "open_watch.hpp"

namespace {

const std::string usage_after_name =
    " action\n\tresume_music\tresume play music.\n\tstop_music\tstop play music.\n";

class command_line_usage : public client_fixture {};

TEST_F(command_line_usage, without_an_action_prints_usage_with_the_name_as_given)
{
    for (const std::string& name : {std::string(test_config::client_program), std::string("./fifo_client_1"),
                                    std::string("%s%n%x%%d"), std::string("")}) {
        SCOPED_TRACE(name);
        // Held only so that a wrongful open of the pipe would not block.
        fifo_reader reader(pipe);
        open_watch watch(pipe);
        const run_result result = run(client_command({}, name), dir.path());
        expect_quiet_end(result, 255, "Usage:" + name + usage_after_name);
        EXPECT_EQ(watch.opens(), 0) << "the pipe was opened";
    }
}

struct dispatch_case {
    // cppcheck-suppress unusedStructMember ; it names the test case
    const char* name;
    std::vector<std::string> args;
    std::string sent; // on the pipe
    std::string printed;
};

class command_line_dispatch : public client_fixture, public testing::WithParamInterface<dispatch_case> {};

TEST_P(command_line_dispatch, sends_only_for_an_exact_keyword_in_first_place)
{
    const dispatch_case& expected = GetParam();
    fifo_reader reader(pipe);
    open_watch watch(pipe);

    expect_quiet_end(run_client(expected.args), 0, expected.printed);

    EXPECT_EQ(reader.take(), expected.sent);
    EXPECT_TRUE(reader.at_eof());
    EXPECT_EQ(watch.opens(), expected.sent.empty() ? 0 : 1);
}

const std::string refused = "Not support this action!\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(keywords, command_line_dispatch, testing::Values(
    dispatch_case{"resume", {"resume_music"}, "1", ""},
    dispatch_case{"stop", {"stop_music"}, "0", ""},
    dispatch_case{"further_arguments_ignored", {"resume_music", "stop_music", "extra"}, "1", ""},
    dispatch_case{"second_keyword_ignored", {"stop_music", "resume_music"}, "0", ""},
    dispatch_case{"keyword_twice_sends_once", {"resume_music", "resume_music"}, "1", ""},
    dispatch_case{"capitals", {"RESUME_MUSIC"}, "", refused},
    dispatch_case{"capital_first_letter", {"Stop_music"}, "", refused},
    dispatch_case{"shortened", {"resume"}, "", refused},
    dispatch_case{"one_letter_short", {"stop_musi"}, "", refused},
    dispatch_case{"trailing_blank", {"resume_music "}, "", refused},
    dispatch_case{"leading_blank", {" stop_music"}, "", refused},
    dispatch_case{"trailing_newline", {"stop_music\n"}, "", refused},
    dispatch_case{"longer", {"resume_musicx"}, "", refused},
    dispatch_case{"empty", {""}, "", refused},
    dispatch_case{"command_byte_itself", {"1"}, "", refused},
    dispatch_case{"bogus_before_keyword", {"bogus", "resume_music"}, "", refused}),
    [](const testing::TestParamInfo<dispatch_case>& param_info) { return std::string(param_info.param.name); });
// clang-format on

} // namespace
