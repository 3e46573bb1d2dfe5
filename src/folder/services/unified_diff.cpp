#include "folder/services/unified_diff.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "folder/services/encodings.h"
#include "folder/services/utf8.h"

namespace popuran::folder {

namespace {

constexpr std::size_t kContext = 3;
// Beyond this many differing lines the middle is shown as one block taken out and one put in:
// the shortest edit is not worth quadratic time on a file rewritten throughout.
constexpr long kMaxEdits = 2000;

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

struct Edit {
    char op;        // ' ' both, '-' old only, '+' new only
    std::size_t o;  // line in the old text (for ' ' and '-')
    std::size_t n;  // line in the new text (for ' ' and '+')
};

using Lines = std::vector<std::string_view>;

// Myers' shortest edit script between a[ab..ae) and b[bb..be), appended to `out`; false when it
// needs more than kMaxEdits edits.
bool Shortest(const Lines& a, std::size_t ab, std::size_t ae, const Lines& b, std::size_t bb,
              std::size_t be, std::vector<Edit>& out) {
    const long n = static_cast<long>(ae - ab);
    const long m = static_cast<long>(be - bb);
    const long max = std::min(n + m, kMaxEdits);
    const long offset = max + 1;
    std::vector<long> v(static_cast<std::size_t>(2 * max + 3), 0);
    std::vector<std::vector<long>> trace;
    auto at = [&](std::vector<long>& vec, long k) -> long& {
        return vec[static_cast<std::size_t>(k + offset)];
    };
    auto same = [&](long x, long y) {
        return a[ab + static_cast<std::size_t>(x)] == b[bb + static_cast<std::size_t>(y)];
    };
    long found = -1;
    for (long d = 0; d <= max && found < 0; ++d) {
        trace.push_back(v);
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && at(v, k - 1) < at(v, k + 1))) ? at(v, k + 1)
                                                                          : at(v, k - 1) + 1;
            long y = x - k;
            while (x < n && y < m && same(x, y)) {
                ++x;
                ++y;
            }
            at(v, k) = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    if (found < 0) {
        return false;
    }
    // Walk back through the saved rows to recover the path.
    std::vector<Edit> path;
    long x = n;
    long y = m;
    for (long d = found; d > 0; --d) {
        std::vector<long>& prev = trace[static_cast<std::size_t>(d)];
        const long k = x - y;
        const bool down = k == -d || (k != d && at(prev, k - 1) < at(prev, k + 1));
        const long prev_k = down ? k + 1 : k - 1;
        const long prev_x = at(prev, prev_k);
        const long prev_y = prev_x - prev_k;
        while (x > prev_x && y > prev_y) {
            --x;
            --y;
            path.push_back(
                {' ', ab + static_cast<std::size_t>(x), bb + static_cast<std::size_t>(y)});
        }
        if (down) {
            --y;
            path.push_back({'+', 0, bb + static_cast<std::size_t>(y)});
        } else {
            --x;
            path.push_back({'-', ab + static_cast<std::size_t>(x), 0});
        }
    }
    while (x > 0 && y > 0) {
        --x;
        --y;
        path.push_back({' ', ab + static_cast<std::size_t>(x), bb + static_cast<std::size_t>(y)});
    }
    out.insert(out.end(), path.rbegin(), path.rend());
    return true;
}

std::vector<Edit> Script(const Lines& a, const Lines& b) {
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        ++head;
    }
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    std::vector<Edit> script;
    for (std::size_t i = 0; i < head; ++i) {
        script.push_back({' ', i, i});
    }
    const std::size_t ae = a.size() - tail;
    const std::size_t be = b.size() - tail;
    if (!Shortest(a, head, ae, b, head, be, script)) {
        for (std::size_t i = head; i < ae; ++i) {
            script.push_back({'-', i, 0});
        }
        for (std::size_t i = head; i < be; ++i) {
            script.push_back({'+', 0, i});
        }
    }
    for (std::size_t i = 0; i < tail; ++i) {
        script.push_back({' ', ae + i, be + i});
    }
    return script;
}

std::string Range(std::size_t first, std::size_t count) {
    // An empty side names the line before it, as diff does.
    std::string text = std::to_string(count == 0 ? first : first + 1);
    if (count != 1) {
        text += "," + std::to_string(count);
    }
    return text;
}

}  // namespace

std::string UnifiedDiff(std::string_view old_text, std::string_view new_text,
                        std::string_view label) {
    if (old_text == new_text) {
        return {};
    }
    const Lines a = SplitLines(old_text);
    const Lines b = SplitLines(new_text);
    const std::vector<Edit> script = Script(a, b);

    std::string out = "--- " + std::string(label) + "\n+++ " + std::string(label) + "\n";
    std::size_t i = 0;
    while (i < script.size()) {
        if (script[i].op == ' ') {
            ++i;
            continue;
        }
        // A hunk: from kContext lines before this change to kContext lines after the last
        // change that is no more than 2 * kContext unchanged lines from the one before.
        const std::size_t begin = i > kContext ? i - kContext : 0;
        std::size_t end = i;
        std::size_t quiet = 0;
        for (std::size_t j = i; j < script.size() && quiet <= 2 * kContext; ++j) {
            if (script[j].op == ' ') {
                ++quiet;
            } else {
                quiet = 0;
                end = j + 1;
            }
        }
        end = std::min(script.size(), end + kContext);
        std::size_t old_first = 0;  // stays 0 where a side has no line
        std::size_t new_first = 0;
        std::size_t old_count = 0;
        std::size_t new_count = 0;
        bool have_old = false;
        bool have_new = false;
        std::string body;
        for (std::size_t j = begin; j < end; ++j) {
            const Edit& e = script[j];
            const std::string_view line = e.op == '+' ? b[e.n] : a[e.o];
            if (e.op != '+') {
                old_first = have_old ? old_first : e.o;
                have_old = true;
                ++old_count;
            }
            if (e.op != '-') {
                new_first = have_new ? new_first : e.n;
                have_new = true;
                ++new_count;
            }
            body += e.op;
            body += line;
            if (line.empty() || line.back() != '\n') {
                body += "\n\\ No newline at end of file\n";
            }
        }
        // A hunk without context lines and without lines of one side has that side empty:
        // then both its numbers are 0, as diff writes them.
        out += "@@ -" + Range(old_first, old_count) + " +" + Range(new_first, new_count) + " @@\n" +
               body;
        i = end;
    }
    return out;
}

std::string ReadableText(std::string_view encoding_name, std::string_view bytes) {
    Encoding encoding = Encoding::kCp932;
    for (const Encoding e : {Encoding::kUtf8, Encoding::kUtf8Bom, Encoding::kEucJp,
                             Encoding::kUtf16Le, Encoding::kUtf16Be}) {
        if (EncodingName(e) == encoding_name) {
            encoding = e;
        }
    }
    return TextToUtf8(DecodeText(encoding, bytes));
}

}  // namespace popuran::folder
