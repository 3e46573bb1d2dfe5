// Runs the encoding detector on files: their verdicts, or the speed of detection.
//   detect_bench FILE...           one line per file: PATH<TAB>VERDICT
//   detect_bench --icu FILE...     ICU's charset detector's best match per file instead
//   detect_bench --speed FILE...   detection over the files held in memory, in GB/s of the
//                                  thread's CPU time (the machine may be shared)
// VERDICT is an encoding name, "ascii", "uncertain:A,B" or "other".
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <time.h>

#include <unicode/ucsdet.h>

#include "folder/services/detect_encoding.h"

namespace {

using popuran::folder::Detection;
using popuran::folder::EncodingDetector;
using popuran::folder::EncodingName;

Detection Detect(std::string_view bytes) {
    EncodingDetector detector;
    detector.Feed(bytes, 0, true);
    return detector.Result();
}

std::string Verdict(const Detection& d) {
    if (d.kind == Detection::Kind::kOther) {
        return "other";
    }
    if (d.ascii_only) {
        return "ascii";
    }
    if (d.kind == Detection::Kind::kUncertain) {
        std::string text = "uncertain:";
        for (std::size_t i = 0; i < d.plausible.size(); ++i) {
            text += (i == 0 ? "" : ",") + std::string(EncodingName(d.plausible[i]));
        }
        return text;
    }
    return std::string(EncodingName(d.encoding));
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::string IcuVerdict(const std::string& bytes) {
    UErrorCode status = U_ZERO_ERROR;
    UCharsetDetector* detector = ucsdet_open(&status);
    ucsdet_setText(detector, bytes.data(), static_cast<std::int32_t>(bytes.size()), &status);
    const UCharsetMatch* match = ucsdet_detect(detector, &status);
    std::string name = match != nullptr && U_SUCCESS(status) ? ucsdet_getName(match, &status) : "";
    ucsdet_close(detector);
    return U_SUCCESS(status) && !name.empty() ? name : "none";
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "--icu") {
        for (int i = 2; i < argc; ++i) {
            std::printf("%s\t%s\n", argv[i], IcuVerdict(ReadFile(argv[i])).c_str());
        }
        return 0;
    }
    const bool speed = argc > 1 && std::string_view(argv[1]) == "--speed";
    if (!speed) {
        for (int i = 1; i < argc; ++i) {
            std::printf("%s\t%s\n", argv[i], Verdict(Detect(ReadFile(argv[i]))).c_str());
        }
        return 0;
    }
    std::vector<std::string> files;
    std::size_t total = 0;
    for (int i = 2; i < argc; ++i) {
        files.push_back(ReadFile(argv[i]));
        total += files.back().size();
    }
    Detect("warm up the tables");
    double best = 1e9;
    std::size_t sink = 0;
    for (int round = 0; round < 5; ++round) {
        const double start = CpuSeconds();
        for (const auto& f : files) {
            sink += static_cast<std::size_t>(Detect(f).encoding);
        }
        best = std::min(best, CpuSeconds() - start);
    }
    std::printf("%zu files, %.1f MB, %.3f s: %.2f GB/s (%zu)\n", files.size(), total / 1e6, best,
                total / best / 1e9, sink % 2);
    return 0;
}
