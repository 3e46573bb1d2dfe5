// The floor of counting a tree's files after a stop: one lstat per regular file (the read-only
// attribute needs it), on one thread and on two, over the entries of every folder below ROOT;
// and, for scale, the cost of a system call that does nothing (getppid).
//   cc -O2 -pthread -o /tmp/stat_floor bench/stop/stat_floor.c && /tmp/stat_floor ROOT
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

enum { kMaxFiles = 2000000 };
static char (*names)[256];
static int* folder_fd;
static int files;

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static void Walk(const char* path) {
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? NULL : fdopendir(dup(fd));
    if (dir == NULL) {
        return;
    }
    for (const struct dirent* e; (e = readdir(dir)) != NULL;) {
        if (e->d_name[0] == '.') {
            continue;
        }
        if (e->d_type == DT_DIR) {
            char sub[4096];
            snprintf(sub, sizeof sub, "%s/%s", path, e->d_name);
            Walk(sub);
        } else if (e->d_type == DT_REG && files < kMaxFiles) {
            snprintf(names[files], sizeof names[0], "%s", e->d_name);
            folder_fd[files++] = fd;
        }
    }
    closedir(dir);
}

struct Part {
    int begin, end, writable;
};

static void* Count(void* arg) {
    struct Part* part = arg;
    for (int i = part->begin; i < part->end; ++i) {
        struct stat st;
        if (fstatat(folder_fd[i], names[i], &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            (st.st_mode & S_IWUSR) != 0) {
            ++part->writable;
        }
    }
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s ROOT\n", argv[0]);
        return 2;
    }
    names = malloc(sizeof names[0] * kMaxFiles);
    folder_fd = malloc(sizeof folder_fd[0] * kMaxFiles);
    Walk(argv[1]);
    for (int round = 0; round < 3; ++round) {
        const double start = Now();
        for (int i = 0; i < 1000000; ++i) {
            syscall(SYS_getppid);
        }
        printf("a bare system call: %.2f us\n", Now() - start);
    }
    for (int threads = 1; threads <= 2; ++threads) {
        for (int round = 0; round < 3; ++round) {
            struct Part parts[2] = {{0, files / threads, 0}, {files / threads, files, 0}};
            pthread_t other;
            const double start = Now();
            if (threads == 2) {
                pthread_create(&other, NULL, Count, &parts[1]);
            }
            Count(&parts[0]);
            if (threads == 2) {
                pthread_join(other, NULL);
            }
            const double ms = (Now() - start) * 1e3;
            printf("%d thread%s: %d files, %d writable, %.1f ms (%.2f us a file)\n", threads,
                   threads == 1 ? "" : "s", files, parts[0].writable + parts[1].writable, ms,
                   ms * 1e3 / files * threads);
        }
    }
    return 0;
}
