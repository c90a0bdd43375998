// Many clients at once against one reader. Its own program, run alone, as
// hundreds of processes would disturb the timing of the other tests.
#include "client_fixture.hpp"
#include "fifo_ends.hpp"

#include <algorithm>
#include <list>

namespace {

class client_load : public client_fixture {};

TEST_F(client_load, many_clients_at_once_lose_and_mix_nothing)
{
    constexpr int clients = 200;
    fifo_reader reader(pipe);
    std::list<child_process> running;
    for (int i = 0; i < clients; ++i)
        running.emplace_back(client_command({i % 2 == 0 ? "resume_music" : "stop_music"}), dir.path());
    for (child_process& client : running) {
        const run_result result = client.wait(std::chrono::seconds(60));
        ASSERT_TRUE(result.exited && result.status == 0)
            << "status " << result.status << ", signal " << result.signal;
    }
    const std::string arrived = reader.take();
    EXPECT_EQ(arrived.size(), static_cast<size_t>(clients));
    EXPECT_EQ(std::count(arrived.begin(), arrived.end(), '1'), clients / 2);
    EXPECT_EQ(std::count(arrived.begin(), arrived.end(), '0'), clients / 2);
}

} // namespace
