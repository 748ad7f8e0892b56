// A rename run killed at a random moment must leave a history from which the
// restore brings back every original name.
#include "test_support.h"

#include "engine/history.h"
#include "engine/tavrinM.h"

#include <csignal>
#include <cstdio>
#include <random>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tavrin;
using namespace tavrin::testing;

namespace {

class CrashTest : public TempFolder {
protected:
    long historySize() const {
        struct stat st;
        return ::stat((prog / "Old.ini").c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
    }

    // Starts the run in a child and kills it once Old.ini holds `bytes` bytes.
    // Returns true when the kill came before the child had finished.
    bool runAndKill(const FixedRunInputs& in, long bytes) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            RecordingActions act;
            RenameRun(in, act);
            ::_exit(0);
        }
        int status = 0;
        while (historySize() < bytes) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                return false;
            }
            ::sched_yield();
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return WIFSIGNALED(status);
    }
};

TEST_F(CrashTest, KilledRunLeavesAHistoryThatRestoresEveryName) {
    constexpr int fileCount = 2000;
    constexpr int kills = 12;
    const unsigned seed = std::random_device{}();
    std::printf("crash test seed: %u\n", seed);
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 rng(seed);

    std::vector<std::string> files;
    for (int i = 0; i < fileCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file%04d.dat", i);
        files.emplace_back(name);
    }
    // Old.ini of a finished run: the folder line and one line per file.
    const long fullSize =
        static_cast<long>(folderLine().size() + fileCount * (files[0].size() + 2));

    // Each restore brings the files back, so the next kill starts from the same folder.
    for (const auto& name : files) {
        writeBytes(dir / name, name);
    }
    const auto before = contents();
    int midRun = 0;
    for (int k = 0; k < kills; ++k) {
        fs::remove(prog / "Old.ini");
        fs::remove(prog / "New.ini");

        const long at = std::uniform_int_distribution<long>(0, fullSize - 1)(rng);
        if (runAndKill(inputs(files, "renamed", "dat"), at)) {
            ++midRun;
        }

        tavrinM::SetHistoryPaths();
        const RestoreResult r = RestoreNames();
        EXPECT_TRUE(r.failed.empty()) << "kill " << k << " at byte " << at << ", seed " << seed;
        ASSERT_EQ(contents(), before) << "kill " << k << " at byte " << at << ", seed " << seed;
    }
    EXPECT_GE(midRun, kills / 2) << "most kills should land inside the run";
}

} // namespace
