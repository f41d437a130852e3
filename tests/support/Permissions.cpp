#include "tests/support/Permissions.h"

#include "base/SystemIo.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// Drops the overriding capabilities from every set of this process, for good:
// access(2) looks at the permitted set, not only the effective one.
bool DropFileOverride() {
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned mask =
        ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    data[0].effective &= mask;
    data[0].permitted &= mask;
    data[0].inheritable &= mask;
    return ::syscall(SYS_capset, &header, data) == 0;
}

QByteArray InChildWithoutFileOverride(const std::function<QByteArray()>& body) {
    const QByteArray failed("<child failed>");
    int fds[2];
    if (::pipe(fds) != 0)
        return failed;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return failed;
    }
    if (child == 0) {
        ::close(fds[0]);
        if (!DropFileOverride())
            ::_exit(2);
        WriteAll(fds[1], body());
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray result;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.append(buffer, n);
    }
    ::close(fds[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return failed;
    return result;
}
