// Runs a command with its standard output on a pipe whose reading end is already closed, as a
// host that has gone away leaves it, and ends with the command's exit status (128 + N when
// signal N ended it). A tool that runs until it is ended from outside ends on its first line
// then, which makes its whole life, from exec to exit, measurable by a benchmark runner:
//
//   reader_gone COMMAND [ARGUMENT...]
#include <cerrno>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: reader_gone COMMAND [ARGUMENT...]\n", stderr);
        return 2;
    }
    int ends[2];
    if (::pipe(ends) != 0) {
        std::perror("pipe");
        return 2;
    }
    ::close(ends[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, ends[1]);
    pid_t child = 0;
    const int error = posix_spawnp(&child, argv[1], &actions, nullptr, argv + 1, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (error != 0) {
        std::fprintf(stderr, "reader_gone: cannot run %s\n", argv[1]);
        return 127;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            std::perror("waitpid");
            return 2;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
