// ostrel-cli: the launcher without a window, for players without a desktop and for a game service's
// release pipeline (does the configuration and its servers deliver every file?). See --help.

#include "app/config_signature.h"
#include "app/config_sources.h"
#include "app/stop_signals.h"
#include "base/log.h"
#include "base/printable_text.h"
#include "build_options.h"
#include "cli/cli_arguments.h"
#include "cli/terminal_view.h"
#include "launcher/launcher.h"
#include "launcher/url_names.h"
#include "res/string_table.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kExitComplete = 0;
constexpr int kExitIncomplete = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// `path` against the current folder, in plain form: "out/./a/" given in /home/p is /home/p/out/a. The
// launcher's paths then name the same files wherever they are used from.
std::string AgainstCurrentFolder(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error).lexically_normal();
    if (error) {
        return path;
    }
    return (absolute.has_filename() ? absolute : absolute.parent_path()).string();
}

int LoadConfiguration(const CliArguments& args, CConfigLoader& config) {
    ConfigSources sources = DefaultConfigSources();
    if (!args.configFile.empty()) {
        sources.commandLineFile = AgainstCurrentFolder(args.configFile);
    }
    const int result = LoadConfigurationFromSources(config, sources);
    if (result == CONFIG_OK) {
        return kExitComplete;
    }
    if (result == CONFIG_MISSING_ATTRIBUTE) {
        ShowMissingAttributeWarning(config.missingAttribute);
    }
    const char* plain = result == CONFIG_PARSE_FAILED        ? "is no well-formed XML"
                        : result == CONFIG_NO_BASE           ? "has no Base element"
                        : result == CONFIG_MISSING_ATTRIBUTE ? "lacks a required attribute"
                                                             : "could not be read";
    std::fprintf(stderr, "ostrel-cli: the configuration %s%s%s\n", plain, args.configFile.empty() ? "" : ": ",
                 PrintableText(args.configFile).c_str());
    return kExitUsage;
}

// Ticks the rows of the files named with --only (by file name or by the name of their row).
bool SelectOnly(CLauncher& launcher, const CConfigLoader& config, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        bool found = false;
        for (std::size_t row = 0; row < launcher.selection.RowCount(); ++row) {
            const std::string& url = config.files[launcher.selection.FileOfRow(row)]->url;
            if (name == FileNameOfUrl(url) || name == DisplayNameOfUrl(url)) {
                launcher.OnRowChecked(row, true);
                found = true;
            }
        }
        if (!found) {
            std::fprintf(stderr, "ostrel-cli: no file named %s in the configuration\n", PrintableText(name).c_str());
            return false;
        }
    }
    return true;
}

int RunLauncher(const CliArguments& args, CConfigLoader& config, CLauncher& launcher, TerminalView& view,
                const std::atomic<bool>& interrupted) {
    launcher.InitSelection(true, args.onlyFiles.empty());
    bool selected = true;
    view.Call([&] { selected = SelectOnly(launcher, config, args.onlyFiles); });
    if (!selected) {
        return kExitUsage;
    }
    if (!launcher.Prepare(args.folder.empty() ? args.folder : AgainstCurrentFolder(args.folder))) {
        return interrupted ? kExitInterrupted : kExitIncomplete;
    }
    bool started = false;
    view.Call([&] { started = launcher.OnBnClickedBtnDownload(); });
    if (!started) {
        return kExitIncomplete;
    }
    const std::optional<RunOutcome> outcome = view.WaitForEnd();
    if (interrupted) {
        return kExitInterrupted;
    }
    if (outcome == RunOutcome::Complete) {
        return kExitComplete;
    }
    for (const std::string& url : view.FailedFiles()) {
        std::fprintf(stderr, "ostrel-cli: failed to download %s (the log tells why)\n", PrintableText(url).c_str());
    }
    return kExitIncomplete;
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const std::optional<CliArguments> args = ParseCliArguments({argv + 1, argv + argc}, error);
    if (!args) {
        std::fprintf(stderr, "ostrel-cli: %s\n%s", PrintableText(error).c_str(), kCliUsage);
        return kExitUsage;
    }
    if (args->help) {
        std::fputs(kCliUsage, stdout);
        return kExitComplete;
    }
    if (args->version) {
        std::printf("%s-cli %s\n%s", OSTREL_EXECUTABLE_NAME, OSTREL_VERSION_TEXT,
                    SignatureVersionText(BuildReleaseKeys()).c_str());
        return kExitComplete;
    }
    // The engine's lines would bury the progress and the one line that says what went wrong.
    SetLogEcho(args->verbose);
    CConfigLoader config;
    if (const int status = LoadConfiguration(*args, config); status != kExitComplete) {
        return status;
    }

    const bool interactive = ::isatty(STDIN_FILENO) == 1 && !args->overwrite && !args->keep;
    TerminalView view(config, stdout, stderr, ::isatty(STDOUT_FILENO) == 1, interactive);
    std::string downloadPath;
    LauncherOptions options;
    options.overwriteChoice = args->overwrite ? 3 : interactive ? 8 : 1;
    options.executeAfterRun = args->execute;
    options.keepChoices = false; // a script's run is no player's choice
    options.speedLimit = args->speedLimit;
    if (!args->report) {
        options.reportHost.clear();
    } else if (!args->reportHost.empty()) {
        options.reportHost = args->reportHost;
    }
    CLauncher launcher(config, downloadPath, view, std::move(options));

    std::atomic<bool> interrupted{false};
    const StopSignals stopSignals([&] {
        interrupted = true;
        launcher.Interrupt();
    });
    view.GiveWayTo(stopSignals.WakeFd());
    return RunLauncher(*args, config, launcher, view, interrupted);
}
