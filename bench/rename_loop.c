/* The fastest a lower/upper-case rename of a tree can be: walk it with nftw, rename every
 * regular file whose name changes (ASCII letters only, never over an existing name), nothing
 * else. A limit for the benchmarks, not a tool.
 *
 *   cc -O2 -o rename_loop rename_loop.c
 *   rename_loop lower|upper DIR
 */
#define _GNU_SOURCE
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static int to_upper;
static long renamed;
static long failed;

static int visit(const char* path, const struct stat* st, int flag, struct FTW* ftw) {
    (void)st;
    if (flag != FTW_F) {
        return 0;
    }
    char target[4096];
    size_t len = strlen(path);
    if (len >= sizeof target) {
        ++failed;
        return 0;
    }
    memcpy(target, path, len + 1);
    int changed = 0;
    for (char* c = target + ftw->base; *c != '\0'; ++c) {
        const int mapped = to_upper ? toupper((unsigned char)*c) : tolower((unsigned char)*c);
        if (mapped != (unsigned char)*c) {
            *c = (char)mapped;
            changed = 1;
        }
    }
    if (!changed) {
        return 0;
    }
    if (renameat2(AT_FDCWD, path, AT_FDCWD, target, RENAME_NOREPLACE) == 0) {
        ++renamed;
    } else {
        ++failed;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "lower") != 0 && strcmp(argv[1], "upper") != 0)) {
        fprintf(stderr, "usage: rename_loop lower|upper DIR\n");
        return 2;
    }
    to_upper = strcmp(argv[1], "upper") == 0;
    /* FTW_DEPTH is not needed: folder names are not changed, so the walk never loses its way. */
    if (nftw(argv[2], visit, 64, FTW_PHYS) != 0) {
        perror("nftw");
        return 1;
    }
    printf("renamed %ld, failed %ld\n", renamed, failed);
    return 0;
}
