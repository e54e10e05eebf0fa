// Output plug-in host: the search, the listing and the choice of a plug-in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "quorvel.h"
#include "test_support.h"

namespace {
using Host = qvtest::PluginFolder;

std::vector<std::string> list() {
    std::vector<std::string> descriptions;
    int32_t result = plugin_list(
        [](void* context, const char* d) {
            static_cast<std::vector<std::string>*>(context)->push_back(d);
        },
        &descriptions);
    EXPECT_EQ(result, descriptions.empty() ? 0 : 1);
    return descriptions;
}

const Dot kStart = {0, 0, 9, nullptr};

TEST(PluginList, UsablePlugInsInNameOrder) {
    Host host({"tp_zero.qvp", "tp_rec.qvp", "tp_single.qvp", "tp_prefix_b.qvp", "tp_full.qvp",
               "tp_prefix_a.qvp", "tp_fail.qvp"});
    qvtest::write_file(host / "junk.qvp", {'n', 'o', 't'});  // no library at all
    qvtest::write_file(host / "tp_rec.qvp.txt", {'x'});      // another extension
    const std::vector<std::string> expected = {"Test Fail", std::string(1023, 'F'), "Prefix Alpha",
                                               "Prefix Beta", "Test Recorder"};
    EXPECT_EQ(list(), expected);
    // The single-export library is passed over before it is asked anything.
    EXPECT_EQ(host.calls().find("tp_single"), std::string::npos);
    EXPECT_NE(host.calls().find("tp_zero info 1023"), std::string::npos);
}

TEST(PluginPlot, ChoiceSelectsByDescriptionPrefix) {
    struct Case {
        const char* choice;
        std::vector<std::string> files;
        int32_t result;
        const char* path;
        std::string calls;
    } cases[] = {
        // A failing plug-in does not end the attempt: the next match gets the same path.
        {"Test",
         {"tp_fail.qvp", "tp_rec.qvp"},
         1,
         "out.rec",
         "tp_fail info 1023\ntp_fail plot -9 -9 9 9 1 out\n"
         "tp_rec info 1023\ntp_rec plot -9 -9 9 9 1 out\n"},
        {"Test Recorder",
         {"tp_fail.qvp", "tp_rec.qvp"},
         1,
         "out.rec",
         "tp_fail info 1023\ntp_rec info 1023\ntp_rec plot -9 -9 9 9 1 out\n"},
        {"test recorder", {"tp_rec.qvp"}, 0, "out", "tp_rec info 1023\n"},
        {"Test Recorder!", {"tp_rec.qvp"}, 0, "out", "tp_rec info 1023\n"},
        {"Prefix",
         {"tp_prefix_b.qvp", "tp_prefix_a.qvp"},
         1,
         "out.rec",
         "tp_prefix_a info 1023\ntp_prefix_a plot -9 -9 9 9 1 out\n"},
        {"Prefix B",
         {"tp_prefix_b.qvp", "tp_prefix_a.qvp"},
         1,
         "out.rec",
         "tp_prefix_a info 1023\ntp_prefix_b info 1023\ntp_prefix_b plot -9 -9 9 9 1 out\n"},
        {"Test", {"tp_single.qvp", "tp_zero.qvp"}, 0, "out", "tp_zero info 1023\n"},
        // No choice: nobody is asked for a description, the first that renders wins.
        {nullptr,
         {"tp_fail.qvp", "tp_rec.qvp"},
         1,
         "out.rec",
         "tp_fail plot -9 -9 9 9 1 out\ntp_rec plot -9 -9 9 9 1 out\n"},
        {"",
         {"tp_fail.qvp", "tp_rec.qvp"},
         1,
         "out.rec",
         "tp_fail plot -9 -9 9 9 1 out\ntp_rec plot -9 -9 9 9 1 out\n"},
        {"", {"tp_fail.qvp"}, 0, "out", "tp_fail plot -9 -9 9 9 1 out\n"},
    };
    for (const Case& c : cases) {
        Host host(c.files);
        char path[QV_PATH_MAX] = "out";
        EXPECT_EQ(plugin_plot(&kStart, -9, -9, 9, 9, path, c.choice), c.result)
            << (c.choice ? c.choice : "(null)");
        EXPECT_STREQ(path, c.path) << (c.choice ? c.choice : "(null)");
        EXPECT_EQ(host.calls(), c.calls) << (c.choice ? c.choice : "(null)");
    }
}

TEST(PluginHost, NothingToFind) {
    Host host({});
    char path[QV_PATH_MAX] = "out";
    EXPECT_EQ(list(), std::vector<std::string>{});
    EXPECT_EQ(plugin_plot(&kStart, -9, -9, 9, 9, path, nullptr), 0);
    EXPECT_STREQ(path, "out");

    // The program's own path cannot be had: nothing is searched.
    qvtest::stage(host.path(), {"tp_rec.qvp"});
    qvtest::set_program_path("");
    EXPECT_EQ(list(), std::vector<std::string>{});
    EXPECT_EQ(plugin_plot(&kStart, -9, -9, 9, 9, path, nullptr), 0);
    EXPECT_EQ(host.calls(), "");
    EXPECT_EQ(plugin_list(nullptr, nullptr), 0);
}
}  // namespace
