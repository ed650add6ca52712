#include <macsim/child.h>
#include <macsim/control.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace macsim {
namespace {

std::function<std::string()> childReport;
int childReportFd = -1;
int childResumeFd = -1; // the child's end of the pipe that tells a stalled parent to read

void writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

void reportAtExit() {
    if (childReport && childReportFd >= 0) {
        writeAll(childReportFd, childReport());
        ::close(childReportFd);
        childReportFd = -1;
    }
}

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::abort();
}

// Reads what the pipe still holds, once its writer has ended.
void drain(int fd, std::string& text) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return;
        }
    }
}

} // namespace

void resumeReading() {
    if (childResumeFd >= 0) {
        const char go = 'r';
        ssize_t written;
        do {
            written = ::write(childResumeFd, &go, 1);
        } while (written < 0 && errno == EINTR);
        ::close(childResumeFd);
        childResumeFd = -1;
    }
}

ChildResult runChild(const std::function<int()>& entry, const ChildOptions& options) {
    int out[2], err[2], rep[2], resume[2] = {-1, -1};
    if (::pipe(out) != 0 || ::pipe(err) != 0 || ::pipe(rep) != 0) {
        die("pipe");
    }
    const bool stalled = !options.readerGone && options.reading == Reading::stalled;
    if (stalled) {
        if (::pipe(resume) != 0) {
            die("pipe");
        }
        // A child that starts another program does not hand the pipe on: its end closes, and
        // the parent reads on.
        ::fcntl(resume[1], F_SETFD, FD_CLOEXEC);
    }
    if (options.readerGone) {
        ::close(out[0]);
        out[0] = -1;
    }
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) {
        die("fork");
    }
    if (pid == 0) {
        // The child starts as a freshly started tool would: default signal dispositions, its
        // standard streams on the pipes, nothing else open of ours.
        std::signal(SIGPIPE, SIG_DFL);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        for (int fd : {out[0], out[1], err[0], err[1], rep[0], resume[0], devNull}) {
            if (fd > STDERR_FILENO) {
                ::close(fd);
            }
        }
        childReport = options.report;
        childReportFd = rep[1];
        childResumeFd = resume[1];
        std::atexit(reportAtExit);
        ::alarm(options.timeoutSeconds);
        std::exit(entry());
    }
    ::close(out[1]);
    ::close(err[1]);
    ::close(rep[1]);
    if (stalled) {
        ::close(resume[1]);
    }

    ChildResult result;
    std::string resumeSignal;
    struct Stream {
        int fd;
        std::string* text;
        bool held; // not read for now
    };
    Stream streams[] = {{out[0], &result.out, options.reading != Reading::asWritten},
                        {err[0], &result.err, false},
                        {rep[0], &result.report, false},
                        {resume[0], &resumeSignal, false}};
    Stream& output = streams[0];
    Stream& resumeStream = streams[3];
    for (;;) {
        pollfd fds[4];
        nfds_t count = 0;
        Stream* open[4];
        for (Stream& stream : streams) {
            if (stream.fd >= 0 && !stream.held) {
                fds[count] = {stream.fd, POLLIN, 0};
                open[count++] = &stream;
            }
        }
        if (count == 0) {
            break;
        }
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            die("poll");
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            char buffer[65536];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                open[i]->text->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                open[i]->fd = -1;
            }
        }
        // A word from the child, or its end, lets a stalled reader go on.
        if (stalled && output.held && (resumeStream.fd < 0 || !resumeSignal.empty())) {
            output.held = false;
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            die("waitpid");
        }
    }
    for (Stream& stream : streams) {
        if (stream.fd >= 0) {
            drain(stream.fd, *stream.text);
            ::close(stream.fd);
        }
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::string liveObjectsAndCalls() {
    std::string out = "live " + std::to_string(liveObjects()) + "\n";
    for (const std::string& call : callStrings()) {
        out += call + "\n";
    }
    return out;
}

} // namespace macsim
