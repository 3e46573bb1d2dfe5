// How long the window takes to answer 中止: starts a run from the real window (Qt's offscreen
// platform), clicks the button at a random moment of it, and measures from that moment until
// the captions are back to idle (the button reads 開始 again). Prints each latency and then
// p50, p99 and max.
//
//   stop_bench replace FOLDER ROUNDS   mode 0 over FOLDER, "needle" and "noodle" swapped in turn
//   stop_bench names FOLDER ROUNDS     modes 2 and 3 in turn over FOLDER and its subfolders
//
// The click is a timer set for a moment before the run starts: the window sees it only when the
// run lets events through, so the wait for that is measured too, as a user's click would wait.
// A round whose run ended before the moment came is not counted.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "run/state/run_state.h"
#include "ui/frm_main.h"
#include "ui/mod_main.h"

namespace {

using Clock = std::chrono::steady_clock;

void SelectMode(popuran::ui::FrmMain& w, popuran::run::RunMode mode) {
    const bool names = mode == popuran::run::kModeLower || mode == popuran::run::kModeUpper;
    for (int i = 0; i < w.CboType->count(); ++i) {
        const int data = w.CboType->itemData(i).toInt();
        if (data == mode ||
            (names && (data == popuran::run::kModeLower || data == popuran::run::kModeUpper))) {
            w.CboType->setCurrentIndex(i);
            Q_EMIT w.CboType->activated(i);
            break;
        }
    }
    if (names) {
        w.OptFN[mode == popuran::run::kModeLower ? 0 : 1]->click();
    }
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: stop_bench replace|names FOLDER ROUNDS\n");
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    const std::string workload = argv[1];
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const int rounds = std::atoi(argv[3]);
    QApplication app(argc, argv);
    popuran::ui::ModMain::SetMessageRoutine([](QWidget*, const QString&, const QString&) {});
    popuran::ui::FrmMain w;
    w.Form_Load();
    w.ChkSub->setChecked(true);
    w.Cbobox[3]->setEditText(folder);

    // Sets the boxes for round `round`: the modes (or the words) alternate, so that every run
    // finds work whether the one before was stopped or not.
    const auto prepare = [&](int round) {
        const bool even = round % 2 == 0;
        if (workload == "replace") {
            SelectMode(w, popuran::run::kModeReplace);
            w.SetBoxText(0, even ? u"needle" : u"noodle");
            w.SetBoxText(1, even ? u"noodle" : u"needle");
            w.SetBoxText(2, u"*.txt");
            w.ChkSub->setChecked(false);
        } else {
            SelectMode(w, even ? popuran::run::kModeLower : popuran::run::kModeUpper);
            w.SetBoxText(2, u"*");
        }
    };

    // Two whole runs first, one of each kind: the moments of the clicks are spread over the
    // longer one.
    double longest_run = 0;
    for (int kind = 0; kind < 2; ++kind) {
        prepare(kind);
        const auto whole_start = Clock::now();
        QTest::mouseClick(w.CmdRpl, Qt::LeftButton);
        const double seconds = std::chrono::duration<double>(Clock::now() - whole_start).count();
        std::printf("a whole run: %.3f s\n", seconds);
        longest_run = std::max(longest_run, seconds);
    }

    std::mt19937 random(12345);
    std::vector<double> latencies;
    int round = 2;
    while (static_cast<int>(latencies.size()) < rounds && round < rounds * 4) {
        prepare(round);
        ++round;
        std::uniform_real_distribution<double> moment(0.02, longest_run * 0.9);
        // Whole milliseconds, as the timer takes them.
        const auto delay = std::chrono::milliseconds(static_cast<int>(moment(random) * 1000));
        const auto start = Clock::now();
        const auto click_at = start + std::chrono::duration_cast<Clock::duration>(delay);
        bool clicked = false;
        QTimer::singleShot(delay, Qt::PreciseTimer, &w, [&] {
            if (w.CmdRpl->text() != QStringLiteral("開始")) {
                clicked = true;
                QTest::mouseClick(w.CmdRpl, Qt::LeftButton);
            }
        });
        QTest::mouseClick(w.CmdRpl, Qt::LeftButton);
        const auto idle = Clock::now();
        if (w.CmdRpl->text() != QStringLiteral("開始")) {
            std::fprintf(stderr, "the window did not come back to idle\n");
            return 1;
        }
        const double run_seconds = std::chrono::duration<double>(idle - start).count();
        if (!clicked) {
            // The timer is still pending: let it fire on the idle window, where it does nothing.
            QTest::qWait(static_cast<int>(delay.count()) + 5);
            std::printf("round %d: the run ended first (%.3f s)\n", round, run_seconds);
            continue;
        }
        const double ms = std::chrono::duration<double, std::milli>(idle - click_at).count();
        latencies.push_back(ms);
        std::printf("round %d: stop at %.3f s, idle after %.1f ms\n", round,
                    std::chrono::duration<double>(delay).count(), ms);
        std::fflush(stdout);
    }
    if (latencies.empty()) {
        std::fprintf(stderr, "no round was stopped\n");
        return 1;
    }
    std::printf("%s: %zu stops, p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", workload.c_str(),
                latencies.size(), Percentile(latencies, 0.5), Percentile(latencies, 0.99),
                *std::max_element(latencies.begin(), latencies.end()));
    return 0;
}
