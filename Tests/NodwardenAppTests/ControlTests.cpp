// The commands' side of the program on its own (control/): the per-user lock and its socket.

#include "AppModelHarness.hpp"
#include "Recording.hpp"
#include "Support/SocketPeer.hpp"

#include <NodwardenApp/control/ControlClient.hpp>
#include <NodwardenApp/control/ControlSocketPath.hpp>
#include <NodwardenApp/control/SingleInstance.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::app;
using namespace stayloom::testing;

TEST(SingleInstanceTests, SecondHolderIsRefusedNamedAndAsksTheFirstToComeForward) {
    TemporaryDirectory root;
    auto first = std::make_unique<SingleInstance>(root.path() / "state");
    ASSERT_TRUE(first->acquire());
    Recorder activations(first.get(), &SingleInstance::activationRequested);

    SingleInstance second(root.path() / "state");
    EXPECT_FALSE(second.acquire());
    EXPECT_EQ(second.holderPid(), ::getpid());
    EXPECT_TRUE(AppModelHarness::processEventsUntil([&] { return activations.count() == 1; }));

    first.reset();
    EXPECT_FALSE(std::filesystem::exists(root.path() / "state" / "Stayloom.socket"));
    SingleInstance third(root.path() / "state");
    EXPECT_TRUE(third.acquire()) << "the lock ends with its holder";
}

TEST(SingleInstanceTests, LockOfAnEndedProcessDoesNotBlockAndAStaleSocketIsReplaced) {
    TemporaryDirectory root;
    const auto folder = root.path() / "state";
    std::filesystem::create_directories(folder);
    SingleInstance probe(folder);
    // A stale socket file, as a crashed run leaves it.
    std::ofstream(*probe.socketPath()) << "";

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(probe.lockFilePath().c_str(), O_RDWR | O_CREAT, 0600);
        ::flock(fd, LOCK_EX);
        [[maybe_unused]] const ssize_t written = ::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_FALSE(probe.acquire()) << "a live holder in another process";

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    SingleInstance after(folder);
    ASSERT_TRUE(after.acquire());
    EXPECT_EQ(readFile(after.lockFilePath()), std::to_string(::getpid()) + "\n");

    Recorder activations(&after, &SingleInstance::activationRequested);
    SingleInstance knocking(folder);
    EXPECT_FALSE(knocking.acquire());
    EXPECT_TRUE(AppModelHarness::processEventsUntil([&] { return activations.count() == 1; }))
        << "the stale socket was replaced by a listening one";
}

TEST(SingleInstanceTests, ALinkWhereTheLockBelongsIsRefusedAndItsTargetLeftAlone) {
    TemporaryDirectory root;
    const auto folder = root.path() / "state";
    std::filesystem::create_directories(folder);
    const auto target = root.path() / "precious.txt";
    std::ofstream(target) << "keep me\n";
    SingleInstance instance(folder);
    std::filesystem::create_symlink(target, instance.lockFilePath());

    EXPECT_FALSE(instance.acquire());
    ASSERT_TRUE(instance.refusal().has_value());
    EXPECT_NE(instance.refusal()->find(instance.lockFilePath().string()), std::string::npos)
        << *instance.refusal();
    EXPECT_EQ(readFile(target), "keep me\n");
    EXPECT_FALSE(instance.holderPid().has_value());
}

TEST(SingleInstanceTests, ASocketPathTooLongForAnAddressMovesToTheRuntimeFolderForBothSides) {
    TemporaryDirectory root;
    const auto folder = root.path() / std::string(ControlSocketPath::maxLength(), 'f');
    const auto runtime = root.path() / "run";
    std::filesystem::create_directories(runtime);

    SingleInstance first(folder, runtime);
    ASSERT_TRUE(first.socketPath().has_value());
    EXPECT_EQ(first.socketPath()->parent_path(), runtime);
    ASSERT_TRUE(first.acquire());
    EXPECT_TRUE(std::filesystem::is_socket(*first.socketPath()));
    Recorder activations(&first, &SingleInstance::activationRequested);
    SingleInstance second(folder, runtime);
    EXPECT_EQ(second.socketPath(), first.socketPath());
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(AppModelHarness::processEventsUntil([&] { return activations.count() == 1; }));

    // Another lock folder never shares the moved socket, and without a runtime folder no path
    // is made up.
    EXPECT_NE(
        SingleInstance(root.path() / std::string(ControlSocketPath::maxLength(), 'g'), runtime)
            .socketPath(),
        first.socketPath());
    EXPECT_FALSE(SingleInstance(folder).socketPath().has_value());
    // A command then says why it cannot ask rather than that nothing runs.
    std::FILE* errors = std::tmpfile();
    CommandLineRequest status;
    status.action = CommandLineRequest::Action::status;
    EXPECT_EQ(ControlClient::run(status, SingleInstance(folder).socketPath(), errors, errors),
              ControlClient::failedStatus);
    EXPECT_NE(contents(errors).find("too long for this system"), std::string::npos);
    std::fclose(errors);
    EXPECT_EQ(SingleInstance(root.path() / "short").socketPath(),
              root.path() / "short" / "Stayloom.socket");
}

TEST(SingleInstanceTests, APeerHoldingIdleConnectionsGetsBusyAnswersNotSilence) {
    TemporaryDirectory root;
    SingleInstance instance(root.path() / "state");
    ASSERT_TRUE(instance.acquire());
    instance.setRequestHandler([](const QJsonObject&) {
        return ControlReply{QJsonObject{{QStringLiteral("ok"), true}}, {}};
    });
    std::vector<int> idle;
    for (int index = 0; index < ControlProtocol::maxConnectionsPerPeer; ++index) {
        idle.push_back(connectSocketPeer(*instance.socketPath()));
    }
    // A command from the same process as the idle peers is told why it is not served.
    std::FILE* output = std::tmpfile();
    std::FILE* errors = std::tmpfile();
    CommandLineRequest request;
    request.action = CommandLineRequest::Action::status;
    auto command = std::async(std::launch::async, [&] {
        return ControlClient::run(request, instance.socketPath(), output, errors);
    });
    ASSERT_TRUE(AppModelHarness::processEventsUntil([&] {
        return command.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
    }));
    EXPECT_EQ(command.get(), ControlClient::failedStatus);
    EXPECT_EQ(contents(errors),
              "The running Stayloom is busy answering other commands. Try again in a moment.\n");
    EXPECT_EQ(contents(output), "");
    std::fclose(output);
    std::fclose(errors);
    for (const int fd : idle) {
        ::close(fd);
    }
}
