#include "cli/cli_options.h"

#include "folder/services/utf8.h"

namespace popuran::cli {

const char kUsage[] =
    "usage: popuran-cli --mode MODE --folder DIR [--pattern PATTERN] [--search TEXT]\n"
    "                   [--replace TEXT] [--subfolders] [--ignore-case] [--encoding ENC]\n"
    "                   [--dry-run] [--diff] [--verbose] [--json] [-0|--null]\n"
    "       popuran-cli --undo [ID] [--json]\n"
    "       popuran-cli --history [--json]\n"
    "       popuran-cli --help | --version\n"
    "\n"
    "  --mode MODE       replace (0): replace a text inside files, keeping NAME.BAK copies\n"
    "                    ext (1): replace file extensions ('*' as --replace: by contents)\n"
    "                    lower (2) / upper (3): file names to lower / upper case\n"
    "  --search TEXT     the text (mode 0) or extension (mode 1) to look for\n"
    "  --replace TEXT    what to put in its place\n"
    "  --pattern PATTERN the file-name pattern, e.g. '*.txt'\n"
    "  --folder DIR      the folder to search\n"
    "  --subfolders      search every folder below it too\n"
    "  --ignore-case     letter case does not matter (mode 0)\n"
    "  --encoding ENC    how mode 0 reads files: auto (default: each file in the encoding\n"
    "                    found for it: code page 932, UTF-8, EUC-JP or UTF-16 with a byte\n"
    "                    order mark; a file whose encoding is uncertain is left as it is\n"
    "                    unless every likely encoding gives the same result), or cp932,\n"
    "                    utf-8, euc-jp: every file in that one\n"
    "  --dry-run         change nothing; list what a run would change or fail to change\n"
    "  --diff            show each changed file as a unified diff, in UTF-8 (not with --json)\n"
    "  --verbose         list every change as it is made\n"
    "  --json            print one JSON object instead of the summary\n"
    "  -0, --null        end each change line in NUL instead of a line feed (xargs -0)\n"
    "  --undo [ID]       undo the last run (or run ID): files the run changed get their old\n"
    "                    contents and names back, unless they changed again since\n"
    "  --history         list the runs that can be undone, newest first\n"
    "\n"
    "Files that could not be changed are listed on standard error as PATH: reason (with\n"
    "--json also as \"failed\"); the run still counts as done.\n"
    "Exit status: 0 done, 130 stopped (Ctrl-C), 2 inputs refused (a search folder that is\n"
    "not there among them) or wrong command line, 1 unexpected failure.\n";

namespace {

std::optional<run::EncodingChoice> ParseEncoding(const std::string& text) {
    if (text == "auto") {
        return run::kEncodingAuto;
    }
    if (text == "cp932") {
        return run::kEncodingCp932;
    }
    if (text == "utf-8") {
        return run::kEncodingUtf8;
    }
    if (text == "euc-jp") {
        return run::kEncodingEucJp;
    }
    return std::nullopt;
}

std::optional<run::RunMode> ParseMode(const std::string& text) {
    if (text == "replace" || text == "0") {
        return run::kModeReplace;
    }
    if (text == "ext" || text == "1") {
        return run::kModeExtension;
    }
    if (text == "lower" || text == "2") {
        return run::kModeLower;
    }
    if (text == "upper" || text == "3") {
        return run::kModeUpper;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    bool have_mode = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto flag = [&](bool& target) {
            if (value) {
                error = name + " takes no value";
                return false;
            }
            target = true;
            return true;
        };
        auto take = [&](std::string& target) {
            if (!value) {
                if (i + 1 >= args.size()) {
                    error = name + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            target = *value;
            return true;
        };
        std::string text;
        int box = -1;
        if (name == "--mode") {
            if (!take(text)) {
                return std::nullopt;
            }
            const auto mode = ParseMode(text);
            if (!mode) {
                error = "unknown mode '" + text + "' (replace, ext, lower, upper or 0 to 3)";
                return std::nullopt;
            }
            options.mode = *mode;
            have_mode = true;
            continue;
        }
        if (name == "--encoding") {
            if (!take(text)) {
                return std::nullopt;
            }
            const auto encoding = ParseEncoding(text);
            if (!encoding) {
                error = "unknown encoding '" + text + "' (auto, cp932, utf-8 or euc-jp)";
                return std::nullopt;
            }
            options.encoding = *encoding;
            continue;
        }
        if (name == "--search") {
            box = run::kSearchBox;
        } else if (name == "--replace") {
            box = run::kReplaceBox;
        } else if (name == "--pattern") {
            box = run::kPatternBox;
        } else if (name == "--folder") {
            box = run::kFolderBox;
        }
        if (box >= 0) {
            if (!take(text)) {
                return std::nullopt;
            }
            options.boxes[static_cast<std::size_t>(box)] = folder::Utf8ToText(text);
            continue;
        }
        if (name == "--undo") {
            options.undo = true;
            if (value) {
                options.undo_id = *value;
            } else if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
                options.undo_id = args[++i];
            }
            continue;
        }
        bool ok = true;
        if (name == "--history") {
            ok = flag(options.history);
        } else if (name == "--subfolders") {
            ok = flag(options.subfolders);
        } else if (name == "--ignore-case") {
            ok = flag(options.ignore_case);
        } else if (name == "--dry-run") {
            ok = flag(options.dry_run);
        } else if (name == "--diff") {
            ok = flag(options.diff);
        } else if (name == "--verbose") {
            ok = flag(options.verbose);
        } else if (name == "--json") {
            ok = flag(options.json);
        } else if (name == "--null" || name == "-0") {
            ok = flag(options.null);
        } else if (name == "--help" || name == "-h") {
            ok = flag(options.help);
        } else if (name == "--version") {
            ok = flag(options.version);
        } else {
            error = "unknown argument '" + args[i] + "'";
            return std::nullopt;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    if ((options.undo || options.history) && have_mode) {
        error = "--undo and --history do not run: leave out --mode";
        return std::nullopt;
    }
    if (!have_mode && !options.help && !options.version && !options.undo && !options.history) {
        error = "--mode is required";
        return std::nullopt;
    }
    return options;
}

}  // namespace popuran::cli
