#include "base/SystemIo.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

extern "C" void ignoreSignal(int) {}

// A read that a signal interrupts (no SA_RESTART) is taken up again, and the
// bytes that arrive in two pieces are read as one.
TEST(SystemIo, ReadFullyRetriesInterruptedReadsAndShortCounts) {
    struct sigaction action {
    }, previous{};
    action.sa_handler = ignoreSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pthread_t reader = pthread_self();
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pthread_kill(reader, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(WriteAll(fds[1], QByteArray("first ")), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(WriteAll(fds[1], QByteArray("second")), 0);
        close(fds[1]);
    });
    char buffer[64];
    const qsizetype got = ReadFully(fds[0], buffer, sizeof buffer);
    writer.join();
    close(fds[0]);
    sigaction(SIGUSR1, &previous, nullptr);
    ASSERT_EQ(got, 12);
    EXPECT_EQ(QByteArray(buffer, got), QByteArray("first second"));
}

TEST(SystemIo, WriteAllGivesTheErrnoOfTheFailedWrite) {
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full < 0)
        GTEST_SKIP() << "no /dev/full here";
    EXPECT_EQ(WriteAll(full, QByteArray("x")), ENOSPC);
    close(full);
    EXPECT_EQ(WriteAll(full, QByteArray("x")), EBADF);
}

} // namespace
