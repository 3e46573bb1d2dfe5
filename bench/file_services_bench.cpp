// Times the POSIX file services against plain system calls on the same files, side by side:
// listing a large folder, and replacing the contents of many small files (atomic replacement
// with fsync against a temporary file renamed without fsync and against an in-place rewrite).
// Build and run with bench/file_services.sh.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "folder/services/file_services.h"
#include "folder/services/utf8.h"

namespace {

using popuran::folder::PosixFileServices;
using popuran::folder::Utf8ToText;

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::perror(path.c_str());
        std::exit(1);
    }
    close(fd);
}

void BenchList(const std::string& root, int count) {
    const std::string folder = root + "/list";
    mkdir(folder.c_str(), 0755);
    for (int i = 0; i < count; ++i) {
        const std::string name =
            folder + "/file-" + std::to_string(i * 7919 % count) + (i % 2 == 0 ? ".txt" : ".dat");
        WriteFile(name, "");
    }
    PosixFileServices files;
    std::size_t listed = 0;
    const double all = Seconds([&] { listed = files.List(Utf8ToText(folder + "/*"))->size(); });
    std::size_t txt = 0;
    const double some = Seconds([&] { txt = files.List(Utf8ToText(folder + "/*.TXT"))->size(); });
    const std::string ls = "ls -l " + folder + " > /dev/null";
    const double ls_time = Seconds([&] { std::system(ls.c_str()); });
    std::printf("List %d entries: '*' %zu in %.3f s, '*.TXT' %zu in %.3f s; ls -l %.3f s\n", count,
                listed, all, txt, some, ls_time);
}

void BenchReplace(const std::string& root, int count) {
    const std::string folder = root + "/replace";
    mkdir(folder.c_str(), 0755);
    const std::string old_bytes(2000, 'o');
    const std::string new_bytes(2000, 'n');
    for (int i = 0; i < count; ++i) {
        WriteFile(folder + "/f" + std::to_string(i), old_bytes);
    }
    PosixFileServices files;
    const double atomic = Seconds([&] {
        for (int i = 0; i < count; ++i) {
            const auto done =
                files.ReplaceContents(Utf8ToText(folder + "/f" + std::to_string(i)), new_bytes);
            if (!done) {
                std::fprintf(stderr, "%s\n", done.error().Describe().c_str());
                std::exit(1);
            }
        }
    });
    const double backup = Seconds([&] {
        for (int i = 0; i < count; ++i) {
            const std::string path = folder + "/f" + std::to_string(i);
            const auto done = files.CopyForBackup(Utf8ToText(path), Utf8ToText(path + ".BAK"));
            if (!done) {
                std::fprintf(stderr, "%s\n", done.error().Describe().c_str());
                std::exit(1);
            }
        }
    });
    const double no_fsync = Seconds([&] {
        for (int i = 0; i < count; ++i) {
            const std::string path = folder + "/f" + std::to_string(i);
            WriteFile(path + ".tmp", new_bytes);
            std::rename((path + ".tmp").c_str(), path.c_str());
        }
    });
    const double in_place = Seconds([&] {
        for (int i = 0; i < count; ++i) {
            WriteFile(folder + "/f" + std::to_string(i), new_bytes);
        }
    });
    std::printf(
        "Replace %d files of 2000 bytes: atomic with fsync %.3f s (%.2f ms each), backup copies "
        "with fsync %.3f s, temporary + rename without fsync %.3f s, in-place rewrite %.3f s\n",
        count, atomic, atomic * 1000 / count, backup, no_fsync, in_place);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string root = argc > 1 ? argv[1] : "/tmp/popuran-bench-files";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    BenchList(root, argc > 2 ? std::atoi(argv[2]) : 100000);
    BenchReplace(root, argc > 3 ? std::atoi(argv[3]) : 2000);
    std::filesystem::remove_all(root);
    return 0;
}
